// The Differences codec: the model's bits in the arithmetic coder, nothing before them. Its tables
// follow from the stream's decoded size, which the directory keeps.
#include "engine/codec/Differences.h"

#include <new>

#include "engine/codec/DifferenceModel.h"

namespace rtp {

namespace {

// The coder flushes one byte; the decoder reads zeros for the bytes after it, and no further.
constexpr int kReadPast = 4;

class DifferenceDecoder : public CodecDecoder {
 public:
  bool Open(StreamReader& input, uint64_t decodedSize, OldBytes*, bool* noMemory) override {
    mInput = &input;
    if (!mModel.Init(decodedSize)) return !(*noMemory = true);
    for (int i = 0; i < 4; ++i) mCode = mCode << 8 | NextByte();
    return !mDamaged;
  }
  bool Decode(ByteView*, uint8_t*, size_t, size_t*) override { return false; }
  bool TakesDifferences() const override { return true; }

  bool DecodeDifferences(const uint8_t* old, size_t length, bool runStart, uint8_t* out) override {
    if (runStart) mModel.StartRun();
    const auto decode = [this](int, int probability) {
      const uint32_t middle =
          mLow + ((mHigh - mLow) >> kProbabilityBits) * static_cast<uint32_t>(probability);
      const int bit = mCode <= middle;
      if (bit) {
        mHigh = middle;
      } else {
        mLow = middle + 1;
      }
      while (((mLow ^ mHigh) & 0xFF000000u) == 0) {
        mLow <<= 8;
        mHigh = mHigh << 8 | 0xFF;
        mCode = mCode << 8 | NextByte();
      }
      return bit;
    };
    for (size_t i = 0; i < length; ++i) out[i] = mModel.Byte(old + i, 0, decode);
    return !mDamaged;
  }

 private:
  uint8_t NextByte() {
    if (mAt == mIn.size) {
      mAt = 0;
      mIn = ByteView();
      if (!mInput->Remaining() || !mInput->Take(kChunkSize, &mIn)) {
        mDamaged = mDamaged || ++mPast > kReadPast || mInput->Failed();
        return 0;
      }
    }
    return mIn.data[mAt++];
  }

  DifferenceModel mModel;
  StreamReader* mInput = nullptr;
  ByteView mIn;
  size_t mAt = 0;
  int mPast = 0;
  bool mDamaged = false;
  uint32_t mLow = 0;
  uint32_t mHigh = 0xFFFFFFFF;
  uint32_t mCode = 0;
};

}  // namespace

uint64_t DifferencesMemory(uint64_t decodedSize, uint64_t) {
  return DifferenceModel::MemoryFor(decodedSize);
}

std::unique_ptr<CodecDecoder> NewDifferenceDecoder() {
  return std::unique_ptr<CodecDecoder>(new (std::nothrow) DifferenceDecoder());
}

}  // namespace rtp
