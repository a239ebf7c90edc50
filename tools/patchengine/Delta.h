#pragma once
// The delta payload: instructions that build the new file from pieces of the old one and new bytes.
//   0x01 offset length   copy `length` bytes of the old file from `offset`
//   0x02 length bytes    insert the next `length` bytes of the payload
//   0x00                 end; the last byte of the payload
// Numbers are unsigned LEB128 (7 bits a byte, low group first, at most 5 bytes, value below 2^32);
// every length is at least 1, every copy lies inside the old file, and the pieces add up exactly to the
// new file's size.
#include <cstdint>
#include <vector>

#include "patchengine/Bytes.h"

namespace rtp {

// Checks the instructions' structure against the two sizes without building anything.
bool CheckDelta(ByteView delta, uint32_t oldSize, uint32_t newSize);

// Builds the new file into `out` (which must hold exactly newSize bytes). False when the instructions
// break a rule above.
bool ApplyDelta(ByteView oldFile, ByteView delta, uint8_t* out, size_t newSize);

// Writes instructions that turn `oldFile` into `newFile`: runs of at least 16 equal bytes found through
// a hash of the old file become copies, everything else is inserted. False when memory runs out.
bool MakeDelta(ByteView oldFile, ByteView newFile, std::vector<uint8_t>* out);

}  // namespace rtp
