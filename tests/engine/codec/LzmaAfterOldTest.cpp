// LZMA after the old space: streams that reach back into the old bytes decode exactly through the
// apply's buffers, whole or in two parts, and a stream whose old space cannot be held is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <tuple>
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

// Decodes `stored` (coded with `codec` after `old`) to `size` bytes, `piece` bytes a read; false when
// refused.
bool Decode(const std::string& stored, const std::string& old, size_t size, size_t piece, std::string* out,
            rtp::Codec codec = rtp::Codec::LzmaAfterOldParts) {
  rtp::MemorySource source(enginetest::View(stored));
  OldInMemory oldSpace(old);
  rtp::StreamDecoder decoder;
  bool noMemory = false;
  if (!decoder.Open(source, 0, stored.size(), size, codec, &noMemory, &oldSpace)) return false;
  out->assign(size, '\0');
  for (size_t at = 0; at < size; at += piece)
    if (!decoder.Read(reinterpret_cast<uint8_t*>(&(*out)[at]), std::min(piece, size - at))) return false;
  return decoder.Finish();
}

TEST(LzmaAfterOld, ALargeStreamIsCodedInTwoPartsAlikeFromOneThreadOrTwoAndDecodesInAnyPieces) {
  // Pieces of the old space between new words: both parts copy from it.
  const std::string old = Words(4, 300000);
  std::string fresh;
  for (size_t k = 0; fresh.size() < rtp::kPartedStream; ++k)
    fresh += old.substr(k * 7919 % (old.size() - 40000), 40000) + Words(static_cast<uint32_t>(10 + k), 300);
  std::vector<uint8_t> coded[2];
  rtp::Codec codec = rtp::Codec::Stored;
  for (int threads : {1, 2})
    ASSERT_TRUE(rtp::EncodeStream(enginetest::View(fresh), &coded[threads - 1], &codec, 0, 0,
                                  enginetest::View(old), threads));
  ASSERT_EQ(codec, rtp::Codec::LzmaAfterOldParts);
  ASSERT_EQ(coded[0], coded[1]);
  // Tried first without the old space (as both cover styles are), then after it: the same.
  std::vector<uint8_t> first;
  ASSERT_TRUE(rtp::EncodeStream(enginetest::View(fresh), &first, &codec, 1));
  ASSERT_TRUE(rtp::EncodeStream(enginetest::View(fresh), &first, &codec, 0, 1, enginetest::View(old), 2));
  EXPECT_EQ(first, coded[0]);
  EXPECT_LT(coded[0].size(), fresh.size() / 8);
  const std::string stored(coded[0].begin(), coded[0].end());
  std::string decoded;
  for (size_t piece : {size_t{1} << 20, size_t{65536}, size_t{4099}})
    EXPECT_TRUE(Decode(stored, old, fresh.size(), piece, &decoded) && decoded == fresh) << piece;
  EXPECT_FALSE(Decode(stored.substr(0, stored.size() - 1), old, fresh.size(), 65536, &decoded));
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

// Coded whole, and in two parts on two threads (the second part's matches told from where it starts).
TEST(LzmaAfterOld, AStreamCodedWithItsMatchesFoundBeforehandDecodesExactlyWhateverItWasTold) {
  // Copies of the old space's first bytes, of a run longer than the coder looks at once and of its
  // last bytes, words between; two matches told wrongly.
  const std::string old = Words(5, 200000);
  const std::pair<size_t, size_t> copies[] = {{0, 100}, {old.size() / 2, 5000}, {old.size() - 64, 64}};
  for (const auto& [threads, least, codec] :
       {std::tuple{1, size_t{0}, rtp::Codec::LzmaAfterOld},
        std::tuple{2, size_t{rtp::kPartedStream}, rtp::Codec::LzmaAfterOldParts}}) {
    std::string fresh;
    rtp::OldMatches matches;
    for (uint32_t round = 0; fresh.empty() || fresh.size() < least; ++round)
      for (const auto& [from, length] : copies) {
        fresh += Words(static_cast<uint32_t>(20 + from + round), 50) + old.substr(from, length);
        matches.length.resize(fresh.size() - length, 0);
        matches.from.resize(fresh.size() - length, 0);
        for (size_t i = 0; i < length; ++i) {
          matches.length.push_back(static_cast<uint32_t>(length - i));
          matches.from.push_back(static_cast<uint32_t>(from + i));
        }
      }
    matches.length[10] = matches.length[20] = 50;
    matches.from[10] = 7;
    matches.from[20] = static_cast<uint32_t>(old.size() + fresh.size());
    std::vector<uint8_t> coded, plain;
    rtp::Codec made = rtp::Codec::Stored;
    ASSERT_TRUE(rtp::EncodeLzmaAfterOldMatched(enginetest::View(fresh), enginetest::View(old), matches,
                                               threads, &coded, &made));
    ASSERT_EQ(made, codec);
    if (threads == 1) {
      ASSERT_TRUE(rtp::EncodeLzma(enginetest::View(fresh), rtp::ByteView(), 0, 1, &plain));
      EXPECT_LT(coded.size() * 2, plain.size());
    }
    std::string decoded;
    EXPECT_TRUE(
        Decode(std::string(coded.begin(), coded.end()), old, fresh.size(), fresh.size(), &decoded, codec));
    EXPECT_EQ(decoded, fresh);
  }
}
