// Large streams coded in two parts: the same bytes from one thread or two, decoded exactly across the
// parts' boundary however the reads fall, and refused when the parts' sizes do not fit the stream.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/codec/Codec.h"
#include "engine/codec/Lzma.h"

namespace {

// Words, so the second part copies from the first at many distances.
std::string Words(uint32_t seed, size_t bytes) {
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < bytes) text += "w" + std::to_string(random() % 3000) + (random() % 9 ? " " : "\n");
  return text;
}

// Decodes `stored` to `size` bytes, `piece` bytes a read; false when the decoder refuses it.
bool Decode(const std::string& stored, size_t size, size_t piece, std::string* out) {
  rtp::MemorySource source(enginetest::View(stored));
  rtp::StreamDecoder decoder;
  bool noMemory = false;
  if (!decoder.Open(source, 0, stored.size(), size, rtp::Codec::LzmaParts, &noMemory)) return false;
  out->assign(size, '\0');
  for (size_t at = 0; at < size; at += piece)
    if (!decoder.Read(reinterpret_cast<uint8_t*>(&(*out)[at]), std::min(piece, size - at))) return false;
  return decoder.Finish();
}

TEST(LzmaParts, ALargeStreamIsCodedInTwoPartsAlikeOnOneThreadOrTwoAndDecodesInAnyPieces) {
  const std::string text = Words(7, rtp::kPartedStream + 12345);
  std::vector<uint8_t> coded[2];
  for (int threads = 1; threads <= 2; ++threads) {
    rtp::Codec codec = rtp::Codec::Stored;
    ASSERT_TRUE(rtp::EncodeStream(enginetest::View(text), &coded[threads - 1], &codec, 0, 0, {}, threads));
    ASSERT_EQ(codec, rtp::Codec::LzmaParts);
  }
  ASSERT_EQ(coded[0], coded[1]);
  const std::string stored(coded[0].begin(), coded[0].end());
  std::string decoded;
  for (size_t piece : {size_t{1} << 20, size_t{65536}, size_t{4099}}) {
    ASSERT_TRUE(Decode(stored, text.size(), piece, &decoded)) << piece;
    EXPECT_TRUE(decoded == text) << piece;
  }
}

TEST(LzmaParts, PartSizesThatDoNotFitTheStreamAreRefused) {
  const std::string text = Words(8, 5000);
  std::vector<uint8_t> coded;
  ASSERT_TRUE(rtp::EncodeLzmaParts(enginetest::View(text), {}, 0, 1, &coded));
  const std::string stored(coded.begin(), coded.end());
  std::string decoded;
  ASSERT_TRUE(Decode(stored, text.size(), 777, &decoded));
  EXPECT_TRUE(decoded == text);
  // The first part's decoded size (2496, two varint bytes), then its coded size (one or two bytes):
  // none, the whole stream, a first part cut short or longer than the stream, the stream cut short.
  ASSERT_EQ(stored.substr(0, 2), "\xC0\x13");
  const size_t sizesEnd = 2 + (static_cast<uint8_t>(stored[2]) & 0x80 ? 2 : 1);
  const std::string rest = stored.substr(sizesEnd);
  for (const std::string& damaged :
       {std::string("\x00\x01", 2) + rest, std::string("\x88\x27\x01", 3) + rest,
        std::string("\xC0\x13\x01", 3) + rest, stored.substr(0, 2) + "\xFF\xFF\x03" + rest,
        stored.substr(0, stored.size() - 1)})
    EXPECT_FALSE(Decode(damaged, text.size(), 777, &decoded));
}

}  // namespace
