#pragma once
// Which old files give new files long runs of equal bytes, found from a table of the old files' blocks
// without a suffix array. Sorting is most of what indexing a tree costs, and most old files of a
// release are unchanged: the builder indexes one of those only when it gives the new files enough.
// Linked into the builder only.
#include <cstdint>
#include <vector>

#include "engine/base/Bytes.h"

namespace rtp {

class SharedBlocks {
 public:
  // Per old file: the bytes of the new files runs from it give; see Credit.
  using Gains = std::vector<uint64_t>;

  // Tables the blocks of the `tabled` files of `old`, which holds files end to end from `starts`
  // (ascending, from 0), one at every `spacing` bytes of a file (a block's length at least: then a run of
  // spacing + block - 1 equal bytes holds one). False when the old bytes are too large for the table's
  // positions.
  bool Build(ByteView old, const std::vector<uint64_t>& starts, const std::vector<bool>& tabled,
             uint64_t spacing = 0);

  // Adds to gains[f] the bytes of `fresh` in runs of equal bytes from tabled file f that start at one of
  // its blocks, found from the start of `fresh` on, each where the last one ended; returns their sum.
  uint64_t Credit(ByteView fresh, Gains* gains) const;

  // The runs Credit finds of `shortest` bytes or more, in order: where each starts in `fresh` and in the
  // old bytes, and its length.
  struct Run {
    uint64_t newPos, oldPos, length;
  };
  std::vector<Run> LongRuns(ByteView fresh, uint64_t shortest) const;

  // The first position of `fresh` from `from` on whose block of bytes equals a tabled old block, with
  // that block's old position; false when there is none.
  bool NextShared(ByteView fresh, uint64_t from, uint64_t* newPos, uint64_t* oldPos) const;

 private:
  struct Slot {
    uint32_t tag = 0;
    uint32_t at = 0;  // the block's position plus one; 0: empty
  };
  // Calls take(run, file) for each run Credit counts.
  template <typename Take>
  void EachRun(ByteView fresh, Take take) const;
  // The old position of a block equal to the `kBlock` bytes at `p` with this hash; -1 when none.
  int64_t Find(uint64_t hash, const uint8_t* p) const;
  size_t FileAt(uint64_t position) const;
  uint64_t End(size_t file) const;

  ByteView mOld;
  std::vector<uint64_t> mStarts;
  std::vector<Slot> mSlots;
  uint32_t mShift = 64;
};

}  // namespace rtp
