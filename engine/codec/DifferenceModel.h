#pragma once
// The model of the Differences codec: it predicts each difference byte of a cover (new byte minus the
// old one under it) from the old bytes around it and the differences before it, bit by bit, in a
// binary arithmetic coder. In an executable, what a difference is follows from the instruction it lies
// in, and the old bytes tell which: a displacement's low byte changes by what its higher bytes
// (the bytes ahead) and the bytes before say. Ten context models, each a hashed table of adaptive
// probabilities, are mixed by a small network whose weights learn as it goes. The arithmetic is
// integer only: the builders of every platform and the apply agree bit for bit.
//
// A byte is coded as "is it zero" first, then, when it is not, its eight bits from the highest. The
// old bytes a byte sees are kContextBefore before it and kContextAfter after it within its cover
// (zero outside it); a run is a stretch of difference bytes that follow one another in a cover.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "engine/codec/Codec.h"

namespace rtp {

// The binary arithmetic coder's probability of a one bit, in 1/4096ths (1..4095).
constexpr int kProbabilityBits = 12;

class DifferenceModel {
 public:
  // The tables' size for a stream of `decodedSize` bytes: small streams pay for small tables.
  static int TableBitsFor(uint64_t decodedSize);
  static uint64_t MemoryFor(uint64_t decodedSize);

  // False when memory runs out.
  bool Init(uint64_t decodedSize);
  // The next byte begins a run.
  void StartRun() { mRun[0] = mRun[1] = 0; }
  // Codes one difference byte whose old byte is old[0] (old[-kContextBefore..kContextAfter] readable):
  // `code(bit, probability)` codes or decodes one bit and gives it back.
  template <typename Code>
  uint8_t Byte(const uint8_t* old, uint8_t value, Code&& code);

 private:
  static constexpr int kModels = 10;
  static constexpr int kInputs = kModels + 1;  // and a constant input
  static constexpr int kBucket = 16;           // slots: one cache line
  // The contexts of the byte over old[0], after a run's last two differences and the stream's last three;
  // `ahead` leaves out the model that reads old[4] (the byte after this one may not have it).
  static void ContextsOf(const uint8_t* old, const uint8_t (&run)[2], const uint8_t (&history)[3], bool ahead,
                         uint32_t (&contexts)[kModels]);
  void SetContexts(const uint8_t* old);
  // Asks the caches for the first buckets the next byte reads if this one is zero and its run goes on:
  // most difference bytes are zero, and the tables are far larger than the caches. All but the model
  // that reads furthest ahead.
  void PrefetchNext(const uint8_t* old) const;
  uint32_t* BucketOf(int model, uint32_t base, uint32_t half) const;
  // The buckets of the byte's first half (`half` 0) or of its second after the first half's bits.
  void SelectBuckets(uint32_t half);
  // The probability of a one at `node` (weights per node), from each model's `slot` in its bucket.
  int Predict(int node, int slot);
  void Update(int node, int bit);

  int mTableBits = 0;
  // Per model 1 << mTableBits slots in buckets, each a 22-bit probability and a 10-bit count.
  struct Free {
    void operator()(uint32_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint32_t, Free> mMemory;
  uint32_t* mSlots = nullptr;     // mMemory at a cache line
  std::vector<int32_t> mWeights;  // per weight set, kInputs weights in 1/65536ths
  uint32_t mBase[kModels] = {};
  uint32_t* mBucket[kModels] = {};
  uint32_t* mSlot[kModels] = {};
  int mStretched[kInputs] = {};
  int mSet = 0;
  int mMixed = 0;
  uint8_t mRun[2] = {};      // the run's last two differences (0 before its start)
  uint8_t mHistory[3] = {};  // the stream's last three differences
};

template <typename Code>
uint8_t DifferenceModel::Byte(const uint8_t* old, uint8_t value, Code&& code) {
  SetContexts(old);
  SelectBuckets(0);
  PrefetchNext(old);
  // Node 0 tells zero from not; nodes 1..255 are the bit tree of a byte that is not zero. The first
  // half's nodes are slots 1..15 of the first buckets, the second half's of buckets chosen by the first.
  const int nonZero = code(value != 0, Predict(0, 0));
  Update(0, nonZero);
  uint8_t byte = 0;
  if (nonZero) {
    int node = 1;
    for (int bit = 7; bit >= 4; --bit) {
      const int b = code((value >> bit) & 1, Predict(node, node));
      Update(node, b);
      node = node * 2 + b;
    }
    SelectBuckets(static_cast<uint32_t>(node));
    for (int bit = 3, slot = 1; bit >= 0; --bit) {
      const int b = code((value >> bit) & 1, Predict(node, slot));
      Update(node, b);
      node = node * 2 + b;
      slot = slot * 2 + b;
    }
    byte = static_cast<uint8_t>(node);
  }
  mHistory[2] = mHistory[1];
  mHistory[1] = mHistory[0];
  mHistory[0] = byte;
  mRun[1] = mRun[0];
  mRun[0] = byte;
  return byte;
}

}  // namespace rtp
