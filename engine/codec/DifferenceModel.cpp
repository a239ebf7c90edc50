#include "engine/codec/DifferenceModel.h"

#include <algorithm>
#include <cstdlib>

namespace rtp {

namespace {

constexpr int kLargestTables = 18;
constexpr int kSmallestTables = 10;
// A count this high adapts at its slowest: differences change their habits from one stretch to the next.
constexpr uint32_t kCountLimit = 4;
constexpr int kWeightSets = 512;
// A slot holds its probability less one half (its first, then), so a zeroed slot is a fresh one.
constexpr uint32_t kHalf = 1u << 21;
constexpr int32_t kFirstWeight = 1 << 14;
constexpr int32_t kLargestWeight = 1 << 24;

// The logistic function at x/256 for x in -2047..2047, in 1/4096ths: 33 points, interpolated.
int SquashAt(int x) {
  static constexpr int kPoints[33] = {1,    2,    3,    6,    10,   16,   27,   45,   73,   120,  194,
                                      310,  488,  747,  1101, 1546, 2047, 2549, 2994, 3348, 3607, 3785,
                                      3901, 3975, 4024, 4050, 4068, 4079, 4085, 4089, 4092, 4093, 4094};
  if (x > 2047) return 4095;
  if (x < -2047) return 1;
  const int w = x & 127;
  const int i = (x >> 7) + 16;
  return (kPoints[i] * (128 - w) + kPoints[i + 1] * w + 64) >> 7;
}

struct Tables {
  int16_t squash[4096];   // at x + 2048
  int16_t stretch[4096];  // its inverse, per probability
  int32_t rate[kCountLimit + 1];
  Tables() {
    for (int i = 0; i < 4096; ++i) squash[i] = static_cast<int16_t>(SquashAt(i - 2048));
    int p = 0;
    for (int x = -2047; x <= 2047; ++x)
      for (const int top = SquashAt(x); p <= top; ++p) stretch[p] = static_cast<int16_t>(x);
    for (; p < 4096; ++p) stretch[p] = 2047;
    for (uint32_t n = 0; n <= kCountLimit; ++n) rate[n] = static_cast<int32_t>(131072 / (2 * n + 3));
  }
};

const Tables& Shared() {
  static const Tables tables;
  return tables;
}

int Squash(int x) {
  return Shared().squash[std::min(2047, std::max(-2047, x)) + 2048];
}

uint32_t Hash(uint32_t context, uint32_t model) {
  uint32_t h = (context + model * 0x1234567u) * 2654435761u;
  h ^= h >> 15;
  return h * 2246822519u;
}

}  // namespace

int DifferenceModel::TableBitsFor(uint64_t decodedSize) {
  int bits = 0;
  while (bits < 40 && (uint64_t{1} << bits) < decodedSize) ++bits;
  return std::min(kLargestTables, std::max(kSmallestTables, bits - 4));
}

uint64_t DifferenceModel::MemoryFor(uint64_t decodedSize) {
  return ((uint64_t{kModels} << TableBitsFor(decodedSize)) + kBucket) * sizeof(uint32_t) +
         kWeightSets * kInputs * sizeof(int32_t);
}

bool DifferenceModel::Init(uint64_t decodedSize) {
  Shared();
  mTableBits = TableBitsFor(decodedSize);
  const size_t slots = size_t{kModels} << mTableBits;
  // Zeroed by the system: pages no byte of the stream reaches are never touched.
  mMemory.reset(static_cast<uint32_t*>(std::calloc(slots + kBucket, sizeof(uint32_t))));
  if (!mMemory) return false;
  constexpr uintptr_t kLine = kBucket * sizeof(uint32_t) - 1;
  mSlots = reinterpret_cast<uint32_t*>((reinterpret_cast<uintptr_t>(mMemory.get()) + kLine) & ~kLine);
  mWeights.assign(kWeightSets * kInputs, kFirstWeight);
  return true;
}

void DifferenceModel::ContextsOf(const uint8_t* old, const uint8_t (&run)[2], const uint8_t (&history)[3],
                                 bool ahead, uint32_t (&contexts)[kModels]) {
  const uint32_t o0 = old[0], o1 = old[1], o2 = old[2], o3 = old[3];
  const uint32_t before = old[-1];
  // The new bytes before this one, where they are in the run; the old ones where they are not.
  const uint32_t n1 = static_cast<uint8_t>(old[-1] + run[0]), n2 = static_cast<uint8_t>(old[-2] + run[1]);
  const uint32_t h1 = history[0], h2 = history[1], h3 = history[2];
  contexts[0] = ahead ? 0 : o2 << 16 | o3 << 8 | old[4];
  contexts[1] = n1 << 16 | n2 << 8 | o0;
  contexts[2] = o1 << 16 | o2 << 8 | n1;
  contexts[3] = n1 << 8 | n2;
  contexts[4] = o0 << 16 | before << 8 | run[0];
  contexts[5] = h1 << 16 | h2 << 8 | h3;
  contexts[6] = o0 << 8 | o1;
  contexts[7] = o1;
  contexts[8] = h1 << 16 | o1 << 8 | o2;
  contexts[9] = o0 << 16 | o2 << 8 | o3;
}

void DifferenceModel::SetContexts(const uint8_t* old) {
  uint32_t contexts[kModels];
  ContextsOf(old, mRun, mHistory, false, contexts);
  for (uint32_t m = 0; m < kModels; ++m) mBase[m] = Hash(contexts[m], m);
  mSet = mHistory[0] == 0 ? 256 : 0;
}

uint32_t* DifferenceModel::BucketOf(int model, uint32_t base, uint32_t half) const {
  uint32_t h = base + half * 0x9E3779B1u;
  h = (h ^ (h >> 16)) * 0x85EBCA6Bu;
  return mSlots + (static_cast<size_t>(model) << mTableBits) + (size_t{h >> (32 - (mTableBits - 4))} << 4);
}

void DifferenceModel::SelectBuckets(uint32_t half) {
  for (int m = 0; m < kModels; ++m) mBucket[m] = BucketOf(m, mBase[m], half);
}

void DifferenceModel::PrefetchNext(const uint8_t* old) const {
  const uint8_t run[2] = {0, mRun[0]};
  const uint8_t history[3] = {0, mHistory[0], mHistory[1]};
  uint32_t contexts[kModels];
  ContextsOf(old + 1, run, history, true, contexts);
  for (int m = 1; m < kModels; ++m)
    __builtin_prefetch(BucketOf(m, Hash(contexts[m], static_cast<uint32_t>(m)), 0));
}

int DifferenceModel::Predict(int node, int slot) {
  const int16_t* stretch = Shared().stretch;
  const int32_t* weights = &mWeights[static_cast<size_t>(mSet + node) * kInputs];
  int64_t dot = 0;
  for (int m = 0; m < kModels; ++m) {
    mSlot[m] = mBucket[m] + slot;
    mStretched[m] = stretch[(*mSlot[m] >> 20) ^ (kHalf >> 10)];
    dot += int64_t{weights[m]} * mStretched[m];
  }
  mStretched[kModels] = 256;
  dot += int64_t{weights[kModels]} * 256;
  mMixed = Squash(static_cast<int>(dot >> 16));
  return mMixed;
}

void DifferenceModel::Update(int node, int bit) {
  int32_t* weights = &mWeights[static_cast<size_t>(mSet + node) * kInputs];
  const int error = (bit << 12) - mMixed;
  // Bounded, so no stream, however made, takes a weight out of range.
  for (int i = 0; i < kInputs; ++i)
    weights[i] =
        std::min(kLargestWeight, std::max(-kLargestWeight, weights[i] + ((mStretched[i] * error) >> 11)));
  const int32_t* rate = Shared().rate;
  const int32_t target = bit ? (1 << 22) - 1 : 0;
  for (int m = 0; m < kModels; ++m) {
    const uint32_t slot = *mSlot[m];
    const uint32_t count = slot & 1023;
    int32_t p = static_cast<int32_t>((slot >> 10) ^ kHalf);
    p += static_cast<int32_t>((int64_t{target - p} * rate[count]) >> 16);
    *mSlot[m] = (static_cast<uint32_t>(p) ^ kHalf) << 10 | std::min(count + 1, kCountLimit);
  }
}

}  // namespace rtp
