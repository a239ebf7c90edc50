// LZMA after the old space: streams that reach back into the old bytes decode exactly through the
// apply's buffers, and a stream whose old space cannot be held is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/codec/Codec.h"
#include "engine/codec/Lzma.h"

namespace {

// Old bytes held in memory, or only claimed (zeros) when `claimed` is larger.
class OldInMemory : public rtp::OldBytes {
 public:
  explicit OldInMemory(const std::string& bytes, uint64_t claimed = 0)
      : mBytes(bytes), mSize(claimed ? claimed : bytes.size()) {}
  uint64_t Size() const override { return mSize; }
  bool Read(uint64_t at, uint8_t* out, size_t length) override {
    ++reads;
    std::memset(out, 0, length);
    if (at < mBytes.size())
      std::memcpy(out, mBytes.data() + at, std::min<size_t>(length, mBytes.size() - at));
    return true;
  }
  int reads = 0;

 private:
  std::string mBytes;
  uint64_t mSize;
};

// Text of words, so that new text copies from old in many places and many lengths.
std::string Words(uint32_t seed, size_t count) {
  std::mt19937 random(seed);
  std::string text;
  for (size_t i = 0; i < count; ++i) text += "w" + std::to_string(random() % 5000) + (i % 11 ? " " : "\n");
  return text;
}

TEST(LzmaAfterOld, StreamsReachingIntoAnOldSpaceOfSeveralPiecesDecodeExactly) {
  // The old space is read in pieces of 1 MiB; the decoder hands out 64 KiB at a time.
  const std::string old = Words(1, 400000);
  ASSERT_GT(old.size(), 2u << 20);
  std::string fresh = old.substr(old.size() / 2, 100000) + Words(2, 20000) + old.substr(10, 70000);
  std::vector<uint8_t> stored;
  rtp::Codec codec = rtp::Codec::Stored;
  ASSERT_TRUE(rtp::EncodeStream(enginetest::View(fresh), &stored, &codec, 0, 0, enginetest::View(old)));
  ASSERT_EQ(codec, rtp::Codec::LzmaAfterOld);
  EXPECT_LT(stored.size(), fresh.size() / 4);

  const std::string patch(stored.begin(), stored.end());
  rtp::MemorySource source(enginetest::View(patch));
  OldInMemory oldSpace(old);
  rtp::StreamDecoder decoder;
  bool noMemory = false;
  ASSERT_TRUE(decoder.Open(source, 0, patch.size(), fresh.size(), codec, &noMemory, &oldSpace));
  EXPECT_EQ(oldSpace.reads, 3);
  std::string decoded(fresh.size(), '\0');
  ASSERT_TRUE(decoder.Read(reinterpret_cast<uint8_t*>(&decoded[0]), decoded.size()));
  EXPECT_TRUE(decoder.Finish());
  EXPECT_EQ(decoded, fresh);

  // Without the old space it is no stream.
  rtp::StreamDecoder alone;
  EXPECT_FALSE(alone.Open(source, 0, patch.size(), fresh.size(), codec, &noMemory));
}

TEST(LzmaAfterOld, AnOldSpaceBeyondTheWindowIsRefusedBeforeItIsRead) {
  const std::string patch = "\x00\x01\x02\x03";
  rtp::MemorySource source(enginetest::View(patch));
  OldInMemory huge("", uint64_t{rtp::kMaxOldWindow} + 1);
  rtp::StreamDecoder decoder;
  bool noMemory = false;
  EXPECT_FALSE(decoder.Open(source, 0, patch.size(), 100, rtp::Codec::LzmaAfterOld, &noMemory, &huge));
  EXPECT_FALSE(noMemory);
  EXPECT_EQ(huge.reads, 0);
  EXPECT_GT(rtp::EntryOf(rtp::Codec::LzmaAfterOld).decoderMemory(100, huge.Size()), rtp::kMaxDecoderMemory);
}

}  // namespace
