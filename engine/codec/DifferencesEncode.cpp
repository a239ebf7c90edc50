// The Differences codec's encoder, linked into the builder only.
#include <vector>

#include "engine/codec/Codec.h"
#include "engine/codec/DifferenceModel.h"

namespace rtp {

namespace {

// The carry-less binary arithmetic coder (a range of 32 bits, a byte out whenever its ends agree on one).
class BitEncoder {
 public:
  explicit BitEncoder(std::vector<uint8_t>* out) : mOut(out) {}
  int Code(int bit, int probability);
  void Flush();

 private:
  std::vector<uint8_t>* mOut;
  uint32_t mLow = 0;
  uint32_t mHigh = 0xFFFFFFFF;
};

int BitEncoder::Code(int bit, int probability) {
  const uint32_t middle = mLow + ((mHigh - mLow) >> kProbabilityBits) * static_cast<uint32_t>(probability);
  if (bit) {
    mHigh = middle;
  } else {
    mLow = middle + 1;
  }
  while (((mLow ^ mHigh) & 0xFF000000u) == 0) {
    mOut->push_back(static_cast<uint8_t>(mHigh >> 24));
    mLow <<= 8;
    mHigh = mHigh << 8 | 0xFF;
  }
  return bit;
}

void BitEncoder::Flush() {
  // One byte the decoder's range holds, read with zeros after it.
  const uint32_t top = mLow >> 24;
  mOut->push_back(static_cast<uint8_t>((mLow & 0xFFFFFF) ? top + 1 : top));
}

}  // namespace

bool EncodeDifferences(ByteView in, const DifferenceRuns& runs, std::vector<uint8_t>* out, size_t sample,
                       size_t* codedSample) {
  uint64_t total = 0;
  for (uint64_t length : runs.lengths) total += length;
  if (in.size == 0 || total != in.size ||
      runs.around.size() != in.size + runs.lengths.size() * (kContextBefore + kContextAfter))
    return false;
  DifferenceModel model;
  if (!model.Init(in.size)) return false;
  out->clear();
  BitEncoder coder(out);
  const auto encode = [&coder](int bit, int probability) { return coder.Code(bit, probability); };
  const uint8_t* old = runs.around.data() + kContextBefore;
  const uint8_t* next = in.data;
  for (uint64_t length : runs.lengths) {
    model.StartRun();
    for (uint64_t i = 0; i < length; ++i) {
      if (sample && next == in.data + sample) *codedSample = out->size();
      model.Byte(old + i, *next++, encode);
    }
    old += length + kContextAfter + kContextBefore;
  }
  coder.Flush();
  return true;
}

}  // namespace rtp
