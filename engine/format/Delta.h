#pragma once
// The delta payload: instructions that build the new file from pieces of the old one and new bytes.
//   0x01 offset length   copy `length` bytes of the old file from `offset`
//   0x02 length bytes    insert the next `length` bytes of the payload
//   0x00                 end; the last byte of the payload
// Numbers are unsigned LEB128 (7 bits a byte, low group first, at most 5 bytes, value below 2^32);
// every length is at least 1, every copy lies inside the old file, and the pieces add up exactly to the
// new file's size. Instructions are read, and the new file built, front to back in pieces.
#include <cstdint>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/base/Stream.h"

namespace rtp {

// Reads exactly `length` bytes of instructions from `delta` and checks them against the two sizes,
// building nothing. 0, kErrCorrupt, or kErrPatchUnreadable when reading fails.
uint32_t CheckDelta(StreamReader& delta, uint64_t length, uint32_t oldSize, uint32_t newSize);

// Builds the new file from the instructions at [offset, offset + length) of `patch` and the old file,
// putting it out in order. 0, or kErrCorrupt (the instructions break a rule), kErrRead (the old file),
// kErrPatchUnreadable, kErrWrite (`out` refused) or kErrNoMemory.
uint32_t ApplyDelta(Source& patch, uint64_t offset, uint32_t length, Source& oldFile, uint32_t newSize,
                    ByteSink& out);

// Writes instructions that turn the old file into the new one, in time linear in their sizes and in
// bounded memory: the old file's blocks are indexed by a rolling hash, the new file is scanned with it,
// and every verified block grows into the longest copy around it. False when a file cannot be read,
// memory runs out, or `out` stopped taking bytes.
bool MakeDelta(Source& oldFile, Source& newFile, ByteSink& out);

// The same on bytes in memory; ApplyDelta's `out` holds exactly newSize bytes.
bool CheckDelta(ByteView delta, uint32_t oldSize, uint32_t newSize);
bool ApplyDelta(ByteView oldFile, ByteView delta, uint8_t* out, size_t newSize);
bool MakeDelta(ByteView oldFile, ByteView newFile, std::vector<uint8_t>* out);

}  // namespace rtp
