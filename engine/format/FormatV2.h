#pragma once
// Version 2 of the patch file: the whole client update as one set of compressed streams, so a new file
// may copy from any old file and files that resemble each other share the coder's context.
//
// Header, 17 to 25 bytes:
//   0  8  magic "TESPATCH"
//   8  2  format version, 2 (little-endian)
//  10  1  directory's codec (0 stored, 1 LZMA)
//  11     directory's stored size, then its decoded size (varints, each at most kMaxDirectory)
//         then the CRC-32C (4 bytes, low first) of the header bytes before it followed by the directory's
//         stored bytes
// Then the directory, then the streams one after another, ending exactly at the end of the file.
//
// The directory (numbers are varints, texts a varint length and the bytes):
//   sources: count, then per old file the patch reads: how many first bytes its name shares with the name
//            before, the rest of the name, its size
//   files:   count, then per file: kind (1 write, 2 delete), the old file it replaces or deletes
//            (source number + 1; 0 for a file that is new), its name (empty when it is the old file's),
//            and for a write its size (as a change from the old file's size when there is one) and its
//            CRC-32C (4 bytes)
//   streams: a byte with a bit for each stream that is not empty, then for each of those its codec,
//            stored size and (LZMA only) decoded size; then the CRC-32C of all streams' stored bytes
//            (4 bytes)
//   translations: count, then per old executable read through the transform (PeTranslate.h): its
//            source number, the new image base, and the address map as segment count and per segment
//            the start and the shift, each as a change from the segment before
//   controls: the test controls (header flags, biggest size, announced count, file delays, notices),
//            read only by the engine's test paths; 0 when there are none
//
// The sources, laid end to end in directory order, are one "old space"; the written files, end to end
// in directory order, the "new space". The streams build the new space front to back:
//   kLiteralLengths  per step: the length of its literal (may be 0)
//   kCoverLengths    per step: twice the length of its cover, plus 1 when the cover has differences;
//                    1 for an exact cover that ends the file; 0 (no cover) only for a file's last step
//   kMoves     per cover: where it starts in the old space, relative to where the last cover ended plus
//              the literal before it (a replaced run of bytes moves by nothing)
//   kSegments  per cover with differences: pairs (difference bytes, exact bytes) until its length
//   kDiff      for the difference bytes of covers: new byte = old byte + difference (mod 256)
//   kLiterals  the new bytes no cover gives
// A step never crosses the end of a file. Every written file is summed as it is built and must match
// its size and CRC-32C, or nothing of the client is replaced.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/codec/Codec.h"
#include "engine/format/PatchFormat.h"
#include "engine/transform/PeTranslate.h"
#include "engine/base/Stream.h"

namespace rtp {

constexpr uint16_t kFormatVersion2 = 2;
constexpr uint32_t kMaxHeaderSize2 = 25;
constexpr uint32_t kMaxDirectory = 64u << 20;

enum StreamId { kLiteralLengths = 0, kCoverLengths, kMoves, kSegments, kDiff, kLiterals, kStreamCount };

struct SourceFile {
  std::string name;
  uint64_t size = 0;
  uint64_t start = 0;       // in the old space, computed when read
  bool translated = false;  // read through the executable transform with `map`
  AddressMap map;
};

enum class FileKind : uint8_t { Write = 1, Delete = 2 };

struct TreeFile {
  FileKind kind = FileKind::Write;
  std::string name;
  uint32_t oldSource = 0;  // source number + 1, 0 for a new file
  uint64_t newSize = 0;
  uint32_t newCrc = 0;
  uint32_t delayMs = 0;  // test control
};

// Written files this small, over old ones this small, are rewritten in place by the apply, and deleted
// ones this small deleted at once; it keeps a copy of each such old file meanwhile, and the cost counts
// those copies too.
constexpr uint64_t kInPlaceLimit = 256 * 1024;

struct StreamInfo {
  Codec codec = Codec::Stored;
  uint64_t storedSize = 0;
  uint64_t decodedSize = 0;
  uint64_t offset = 0;  // in the patch file, computed when read
};

// A test control notice: sent before the file numbered `slot` (counted from 0; the file count puts it
// after the last file).
struct SlotNotice {
  uint32_t slot = 0;
  uint8_t id = 0;
  uint32_t delayMs = 0;
  std::string payload;  // as for version 1: a text, a 4-byte number or nothing
};

struct PatchV2 {
  PatchHeader header;  // the controls' flags, biggest size and announced count
  std::vector<SourceFile> sources;
  std::vector<TreeFile> files;
  StreamInfo streams[kStreamCount];
  uint32_t streamsCrc = 0;  // of every stream's stored bytes, in order
  std::vector<SlotNotice> notices;

  uint32_t WrittenCount() const;
};

// The format version of a patch: 1, 2, or 0 when it is no patch at all (or cannot be read).
uint16_t PatchVersion(Source& patch);

// Reads and checks the header and directory, and with `checkStreams` the stored bytes of the streams
// against their CRC-32C, so a damaged patch is refused before the run writes anything. Errors as
// ParsePatch gives them (8, 9, 10, 5).
bool ParsePatchV2(Source& patch, PatchV2* out, FormatError* error, bool checkStreams = true);

// Writes header, directory and the streams as stored (their entries in `patch` describe them; the
// streams' CRC-32C is computed here).
bool WritePatchV2(const PatchV2& patch, const std::vector<uint8_t> (&streams)[kStreamCount], Sink& out,
                  uint64_t* size);

// The disk need of a version-2 patch: every written file is staged beside the old one before any is
// replaced, so the need is their sum.
PatchCost ComputeCostV2(const PatchV2& patch);

// Reads a patch of either version just far enough to know its cost: the version-2 streams are not
// read. Errors as ParsePatch gives them.
bool ReadPatchCost(Source& patch, PatchCost* cost, FormatError* error);

}  // namespace rtp
