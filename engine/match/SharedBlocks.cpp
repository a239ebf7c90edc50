#include "engine/match/SharedBlocks.h"

#include <algorithm>
#include <cstring>

namespace rtp {

namespace {

// The bytes a block's hash reads; a file's blocks start every kBlock bytes unless told otherwise, so a
// run of 2 * kBlock - 1 equal bytes holds one.
constexpr uint64_t kBlock = 32;
constexpr uint64_t kRoll = 0x100000001B3ull;  // odd: the rolling hash's multiplier
constexpr uint64_t kMix = 0x9E3779B97F4A7C15ull;

uint64_t HashOf(const uint8_t* p) {
  uint64_t hash = 0;
  for (uint64_t i = 0; i < kBlock; ++i) hash = hash * kRoll + p[i];
  return hash;
}

// kRoll to the power kBlock - 1: what the byte leaving the window weighs.
constexpr uint64_t OutWeight() {
  uint64_t weight = 1;
  for (uint64_t i = 1; i < kBlock; ++i) weight *= kRoll;
  return weight;
}

uint32_t TagOf(uint64_t hash) {
  return static_cast<uint32_t>(hash >> 32) ^ static_cast<uint32_t>(hash);
}

}  // namespace

bool SharedBlocks::Build(ByteView old, const std::vector<uint64_t>& starts, const std::vector<bool>& tabled,
                         uint64_t spacing) {
  if (old.size >= UINT32_MAX) return false;
  spacing = std::max(spacing, kBlock);
  mOld = old;
  mStarts = starts;
  uint64_t blocks = 0;
  for (size_t f = 0; f < starts.size(); ++f) blocks += tabled[f] ? (End(f) - starts[f]) / spacing : 0;
  uint32_t bits = 10;
  while (bits < 31 && (uint64_t{1} << bits) < 2 * blocks) ++bits;
  mShift = 64 - bits;
  mSlots.assign(size_t{1} << bits, Slot());
  const size_t mask = mSlots.size() - 1;
  for (size_t f = 0; f < starts.size(); ++f) {
    if (!tabled[f]) continue;
    for (uint64_t at = starts[f]; at + kBlock <= End(f); at += spacing) {
      const uint64_t hash = HashOf(old.data + at);
      if (Find(hash, old.data + at) >= 0) continue;
      size_t slot = static_cast<size_t>((hash * kMix) >> mShift);
      while (mSlots[slot].at) slot = (slot + 1) & mask;
      mSlots[slot] = {TagOf(hash), static_cast<uint32_t>(at + 1)};
    }
  }
  return true;
}

template <typename Take>
void SharedBlocks::EachRun(ByteView fresh, Take take) const {
  constexpr uint64_t kOut = OutWeight();
  if (mSlots.empty()) return;
  uint64_t floor = 0;  // a run does not reach back before the last one's end
  uint64_t p = 0;
  bool rolled = false;
  uint64_t hash = 0;
  while (p + kBlock <= fresh.size) {
    hash = rolled ? (hash - fresh.data[p - 1] * kOut) * kRoll + fresh.data[p + kBlock - 1]
                  : HashOf(fresh.data + p);
    rolled = true;
    const int64_t found = Find(hash, fresh.data + p);
    if (found < 0) {
      ++p;
      continue;
    }
    const uint64_t at = static_cast<uint64_t>(found);
    const size_t file = FileAt(at);
    const uint64_t most = std::min(End(file) - at, fresh.size - p);
    uint64_t length = kBlock;
    while (length < most && mOld.data[at + length] == fresh.data[p + length]) ++length;
    uint64_t back = 0;
    while (p - back > floor && at - back > mStarts[file] &&
           mOld.data[at - back - 1] == fresh.data[p - back - 1])
      ++back;
    take(Run{p - back, at - back, back + length}, file);
    p += length;
    floor = p;
    rolled = false;
  }
}

uint64_t SharedBlocks::Credit(ByteView fresh, Gains* gains) const {
  uint64_t credited = 0;
  EachRun(fresh, [&](const Run& run, size_t file) {
    (*gains)[file] += run.length;
    credited += run.length;
  });
  return credited;
}

std::vector<SharedBlocks::Run> SharedBlocks::LongRuns(ByteView fresh, uint64_t shortest) const {
  std::vector<Run> runs;
  EachRun(fresh, [&](const Run& run, size_t) {
    if (run.length >= shortest) runs.push_back(run);
  });
  return runs;
}

bool SharedBlocks::NextShared(ByteView fresh, uint64_t from, uint64_t* newPos, uint64_t* oldPos) const {
  constexpr uint64_t kOut = OutWeight();
  if (mSlots.empty() || from + kBlock > fresh.size) return false;
  uint64_t hash = HashOf(fresh.data + from);
  for (uint64_t p = from;; ++p) {
    const int64_t found = Find(hash, fresh.data + p);
    if (found >= 0) {
      *newPos = p;
      *oldPos = static_cast<uint64_t>(found);
      return true;
    }
    if (p + kBlock >= fresh.size) return false;
    hash = (hash - fresh.data[p] * kOut) * kRoll + fresh.data[p + kBlock];
  }
}

int64_t SharedBlocks::Find(uint64_t hash, const uint8_t* p) const {
  const size_t mask = mSlots.size() - 1;
  const uint32_t tag = TagOf(hash);
  for (size_t slot = static_cast<size_t>((hash * kMix) >> mShift); mSlots[slot].at;
       slot = (slot + 1) & mask) {
    const uint64_t at = mSlots[slot].at - 1;
    if (mSlots[slot].tag == tag && std::memcmp(mOld.data + at, p, kBlock) == 0)
      return static_cast<int64_t>(at);
  }
  return -1;
}

size_t SharedBlocks::FileAt(uint64_t position) const {
  return static_cast<size_t>(std::upper_bound(mStarts.begin(), mStarts.end(), position) - mStarts.begin()) -
         1;
}

uint64_t SharedBlocks::End(size_t file) const {
  return file + 1 < mStarts.size() ? mStarts[file + 1] : mOld.size;
}

}  // namespace rtp
