#pragma once
// Finds what a new file shares with the old data and writes the steps that build it into the raw
// (not yet compressed) streams of a patch. Linked into the builder only.
//
// Covers are approximate matches, found as bsdiff finds them: the longest exact match of each new
// position in a suffix array of the old data, taken when it beats the current alignment by enough bytes,
// then grown forward and back while at least half of the bytes agree. Among equally long matches the one
// nearest to where the last cover ended wins, which keeps the moves small. A cover is written either with
// difference bytes (what executables need: shifted addresses differ by a few bits) or cut at every
// difference into exact pieces with the new bytes between them as literals (what text needs); the
// builder tries both and keeps the smaller patch.
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/format/PatchFormat.h"

namespace rtp {

// The old data one suffix array indexes: [base, base + bytes.size) of the old space.
struct OldIndex {
  ByteView bytes;
  uint64_t base = 0;
  std::vector<int32_t> order;  // the suffix array
  // Per first two bytes (65,536 and an end): where the suffixes that start so begin in `order`, so a
  // search starts among them and not at the whole array.
  std::vector<uint32_t> pairs;
  // Which three-byte strings the bytes hold (a bit each), and a filter of the four-byte ones (a clear bit:
  // none): where no match can be four bytes long, its length is told without a search (data that does
  // not occur in the old files, packed assets above all, would cost a search at every byte).
  std::vector<uint64_t> triples, quads;
  uint32_t quadShift = 0;
};

// The suffix array of `index->bytes` and the tables beside it; false as BuildSuffixArray.
bool BuildIndex(OldIndex* index);
// The same without the suffixes that start in `leftOut` (ascending ranges of the bytes, apart): old bytes
// that long runs known beforehand explain need not be sorted. The rest is sorted end to end, so a suffix
// near a range may sort out of place: a search may then find less than the longest match, never a wrong
// one (it compares the bytes as they lie, and a match may run on into a range).
struct OldRange {
  uint64_t start, length;
};
bool BuildIndex(OldIndex* index, const std::vector<OldRange>& leftOut);
// Gives back the memory of the array and its tables; the index keeps its bytes (the steps read them).
void ReleaseSearch(OldIndex* index);

struct Cover {
  uint64_t oldPos = 0;  // in the index's bytes, plus its base
  uint64_t newPos = 0;  // in the file
  uint64_t length = 0;
  uint64_t spacePos = 0;  // where the patch's old space has these bytes (the patch may keep fewer files)
};

enum class CoverStyle { Differences, ExactPieces };

// The covers of one new file, in order and not overlapping. `expected` is where in the old space the
// file is likely to start (its old version's start). A new alignment is taken when it matches more
// bytes than the current one by a margin that suits the style: difference covers live on long shifted
// runs and take small margins, exact pieces pay a step for every jump and take larger ones; a far move
// takes a larger margin in both.
//
// `found`, when given, keeps the longest match searched at each position of this file for the other
// style's search of it, which looks at mostly the same positions (each search reads the array all over:
// most of the matching time). It starts empty for each file, and the file is below 2 GiB.
struct FoundMatches {
  struct Found {
    int32_t pos, length, at;
  };
  std::unique_ptr<Found[]> at;     // left uninitialised: only the positions searched are touched
  std::vector<uint64_t> searched;  // a bit a position
};
// `known`, when given, holds exact runs found beforehand (new positions ascending, index positions): a
// position inside one takes the rest of it as its match, unsearched, so its old bytes may be left out of
// the index.
std::vector<Cover> FindCovers(const OldIndex& index, ByteView fresh, uint64_t expected, CoverStyle style,
                              FoundMatches* found = nullptr, const std::vector<Cover>* known = nullptr);

// For every byte of `bytes`, the longest match in the index of the bytes from it: its length (0 when
// shorter than four bytes, at most `most`) and where it starts in the index's bytes. The same whatever
// the number of cores.
void LongestMatches(const OldIndex& index, ByteView bytes, uint16_t most, std::vector<uint16_t>* length,
                    std::vector<uint32_t>* pos);

// Raw streams of a patch being built.
struct RawStreams {
  std::vector<uint8_t> bytes[kStreamCount];
  DifferenceRuns differences;  // what tells the bytes of kDiff
  uint64_t lastOldEnd = 0;     // where the last cover ended, across files
};

// Appends the steps of one file; old bytes are read from the index, moves are written in space positions.
void WriteSteps(const OldIndex& index, ByteView fresh, const std::vector<Cover>& covers, CoverStyle style,
                RawStreams* out);

// Where the steps of a file written window by window stand: the literal bytes written out already whose
// step is still to come. A step never ends at a window's end unless the file does.
struct StepCursor {
  uint64_t pendingLiteral = 0;
};

// Appends the step of a window of `size` new bytes that one exact cover gives whole (its position in the
// window 0), without reading either side's bytes.
void WriteExactWindow(const Cover& cover, uint64_t size, bool last, StepCursor* cursor, RawStreams* out);

// Appends the steps of one window of a file (covers with positions in the window), `last` when the
// window ends the file.
void WriteWindowSteps(const OldIndex& index, ByteView fresh, const std::vector<Cover>& covers,
                      CoverStyle style, bool last, StepCursor* cursor, RawStreams* out);

}  // namespace rtp
