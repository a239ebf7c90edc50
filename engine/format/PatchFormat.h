#pragma once
// The engine's patch file: the whole client update as one set of compressed streams, so a new file may
// copy from any old file and files that resemble each other share the coder's context. A damaged or
// truncated patch is refused before any client file is touched; the streams are read front to back in
// pieces, so a patch may be far larger than the memory of the process that reads it.
//
// Header, 17 to 25 bytes:
//   0  8  magic "TESPATCH"
//   8  2  format version, 7 (little-endian); a reader refuses a version it does not read (it reads 2
//         to 7) with error 8 before it looks at anything else
//  10  1  directory's codec (see Codec.h)
//  11     directory's stored size, then its decoded size (varints, each at most kMaxDirectory)
//         then the CRC-32C (4 bytes, low first) of the header bytes before it followed by the directory's
//         stored bytes
// Then the directory, then the streams one after another, ending exactly at the end of the file.
//
// The directory (numbers are varints, texts a varint length and the bytes). Its lists are written field
// by field, each field for every entry before the next, so the coder finds the runs a field makes:
//   sources: count, then per old file the patch reads its name: how many first bytes it shares with the
//            name before (the last one written out) and the rest; or, for a file named by its hash, that
//            count's greatest value + 1 and the hash (4 bytes), or (format 5 on) + 2 and its low 3 bytes,
//            + 3 and its low 2 bytes; then per old file its size
//   files:   count, then per file its kind (1 write, 2 delete); per file the old file it replaces or
//            deletes: 0 for a file that is new, else 1 + (folded) its source number less the one after
//            the last old file so named; per file its name (empty when it is the old file's); per write
//            its size (as a change from the old file's size when there is one); per write its CRC-32C
//            (4 bytes)
//   Version 2 wrote each entry's fields together, and a file's old file as its source number + 1.
//   streams: a byte with a bit for each stream that is not empty, then for each of those its codec
//            (InDirectory from format 4 on, LzmaParts from format 5 on, Differences from format 6 on and
//            for kDiff only, LzmaAfterOldParts from format 7 on), stored size and, for a codec that needs
//            it, decoded size; then the CRC-32C of the stored bytes of all streams after the
//            directory (4 bytes)
//   translations: count, then per old executable read through the transform (PeTranslate.h): its
//            source number, the new image base, and the address map as segment count and per segment
//            the start and the shift, each as a change from the segment before
//   reserved: 0 (a reader refuses any other value)
//   held:    the bytes of each stream whose codec is InDirectory (format 4 on), in stream order, each at
//            most kMaxHeldStream; they are not repeated after the directory. A small patch's streams
//            share the directory's coder rather than each paying for its own.
//
// Names by hash: the apply lists the client folder and finds each such file by the hash of its name, so
// a patch that changes a few files of a large client spends a few bytes on each name. The builder names
// a file so, with the fewest bytes of the hash, only when no other old or new file's name has those
// bytes; the apply refuses a hash that no client file answers to, or more than one of the size the
// patch expects. Format 2 names every file; formats 3 and 4 give every hash in 4 bytes.
//
// Names: the client file, relative to the client folder, '\' between folders: UTF-8 text (well formed)
// without control characters and <>:"|?*/, at most kMaxNameLength bytes, no empty, "." or ".." part, no
// blank or dot at the end of a part; unique ignoring the case of ASCII letters. Windows takes the name as
// UTF-16; the engine's callbacks give it in the ANSI code page.
//
// The sources, laid end to end in directory order, are one "old space"; the written files, end to end
// in directory order, the "new space". The streams build the new space front to back:
//   kLiteralLengths  per step: the length of its literal (may be 0)
//   kCoverLengths    per step: twice the length of its cover, plus 1 when the cover has differences;
//                    1 for an exact cover that ends the file; 0 (no cover) only for a file's last step
//   kMoves     per cover: where it starts in the old space, relative to where the last cover ended plus
//              the literal before it (a replaced run of bytes moves by nothing)
//   kSegments  per cover with differences: pairs (difference bytes, exact bytes) until its length
//   kDiff      for the difference bytes of covers: new byte = old byte + difference (mod 256); a run of
//              them is the difference bytes of one pair of kSegments
//   kLiterals  the new bytes no cover gives
// A step never crosses the end of a file. Every written file is summed as it is built and must match
// its size and CRC-32C, or nothing of the client is replaced.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/Stream.h"
#include "engine/codec/Codec.h"
#include "engine/transform/PeTranslate.h"

namespace rtp {

constexpr uint8_t kMagic[8] = {'T', 'E', 'S', 'P', 'A', 'T', 'C', 'H'};
constexpr uint16_t kFormatVersion = 7;
constexpr uint16_t kOldestVersion = 2;  // the oldest version this engine still reads
constexpr uint32_t kMaxHeaderSize = 25;
constexpr uint32_t kMaxDirectory = 64u << 20;
// In bytes: deep folders of a client whose names are Chinese (three bytes a character) take many.
constexpr size_t kMaxNameLength = 1023;
// Every file is held in memory while the patch is applied; no client has nearly this many files.
constexpr uint32_t kMaxEntries = 1u << 20;
// The largest stream the directory may hold; the builder offers it the streams of up to kHeldOffer bytes.
constexpr uint64_t kMaxHeldStream = 64 * 1024;
constexpr uint64_t kHeldOffer = 16 * 1024;
// The longest and shortest name hash a patch gives, in bytes (see NameHash).
constexpr int kNameHashBytes = 4;
constexpr int kShortestNameHash = 2;

enum StreamId { kLiteralLengths = 0, kCoverLengths, kMoves, kSegments, kDiff, kLiterals, kStreamCount };

struct SourceFile {
  std::string name;  // empty when named by hash, until the apply finds the file
  uint64_t size = 0;
  uint64_t start = 0;       // in the old space, computed when read
  bool translated = false;  // read through the executable transform with `map`
  AddressMap map;
  bool byHash = false;             // the patch gives its name's hash only
  uint64_t nameHash = 0;           // NameHash of the name, when by hash
  int hashBytes = kNameHashBytes;  // how many of the hash's low bytes the patch gives
};

enum class FileKind : uint8_t { Write = 1, Delete = 2 };

struct TreeFile {
  FileKind kind = FileKind::Write;
  std::string name;
  uint32_t oldSource = 0;  // source number + 1, 0 for a new file
  uint64_t newSize = 0;
  uint32_t newCrc = 0;
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

struct Patch {
  uint16_t version = kFormatVersion;
  std::vector<SourceFile> sources;
  std::vector<TreeFile> files;
  StreamInfo streams[kStreamCount];
  uint32_t streamsCrc = 0;                  // of every stream's stored bytes after the directory, in order
  std::vector<uint8_t> held[kStreamCount];  // the bytes of the streams the directory holds

  uint32_t WrittenCount() const;
};

// Why a patch was refused: error 8 or 9 (or 5 when memory ran out, 10 when it could not be read) and
// what was wrong.
struct FormatError {
  uint32_t number = 0;
  std::string detail;
};

// Fills *error (when there is one) and returns false: how the readers fail.
inline bool FailFormat(FormatError* error, uint32_t number, std::string detail) {
  if (error) {
    error->number = number;
    error->detail = std::move(detail);
  }
  return false;
}

// Reads and checks the header and directory, and with `checkStreams` the stored bytes of the streams
// against their CRC-32C, so a damaged patch is refused before the run writes anything. The error is 8
// for another format version, 9 for a damaged or foreign file, 10 when it cannot be read and 5 when
// memory runs out.
bool ParsePatch(Source& patch, Patch* out, FormatError* error, bool checkStreams = true);

// Writes header, directory and the streams as stored (their entries in `patch` describe them; the
// streams' CRC-32C is computed here). `offered` holds the decoded bytes of the streams the directory may
// hold instead (empty for the others): it holds all of them where that makes the patch smaller.
bool WritePatch(const Patch& patch, const std::vector<uint8_t> (&streams)[kStreamCount],
                const std::vector<uint8_t> (&offered)[kStreamCount], Sink& out, uint64_t* size);

// The hash that names a file: FNV-1a (64 bits) of the name as Windows compares it, cut to its low
// `bytes` bytes (kShortestNameHash to kNameHashBytes). Two client files that answer to one hash are told
// apart by their sizes, so a short hash serves clients of millions of files.
uint64_t NameHash(const std::string& name, int bytes = kNameHashBytes);
inline uint64_t LowBytes(uint64_t hash, int bytes) {
  return hash & ((uint64_t{1} << (8 * bytes)) - 1);
}
// A hash as the engine's errors and rtpbuild show it: lower-case hexadecimal, every digit.
std::string NameHashText(uint64_t hash, int bytes = kNameHashBytes);
// Whether the patch names some old file by hash only.
bool HasNamesByHash(const Patch& patch);
// A client file's size; false when it cannot be told.
using SizeOfFile = std::function<bool(const std::string& name, uint64_t* size)>;
// Gives every file named by hash the name of the client file (of `clientFiles`, every file below the
// client folder) that answers to it, of its size where several do, and the patch's files their names.
// Error 15 when none answers to a hash, or several of the size.
bool ResolveNames(Patch* patch, const std::vector<std::string>& clientFiles, const SizeOfFile& sizeOf,
                  FormatError* error);

// The client-file name rule above.
bool IsValidName(const std::string& name);
// A name as Windows compares it: ASCII letters in lower case.
std::string FoldName(const std::string& name);

// What applying the patch costs on disk, all in bytes (clamped to 2^32 - 1):
//   biggest  the most extra disk space the run holds at one moment: every written file is staged beside
//            its old one before any is replaced, and a copy of each old file rewritten in place is kept
//   newSize  the sizes of all files the patch writes
//   oldSize  the sizes of all old files it replaces or deletes
//   files    the number of files
struct PatchCost {
  uint32_t biggest = 0;
  uint32_t newSize = 0;
  uint32_t oldSize = 0;
  uint32_t files = 0;
};
PatchCost ComputeCost(const Patch& patch);

// Reads a patch just far enough to know its cost: the streams are not read. Errors as ParsePatch's.
bool ReadPatchCost(Source& patch, PatchCost* cost, FormatError* error);

}  // namespace rtp
