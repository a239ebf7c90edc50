// A large stream coded in two parts: the same bytes from one thread or two, decoded exactly however the
// reads fall across the parts' boundary, and refused when the parts' sizes do not fit the stream.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/base/Varint.h"
#include "engine/codec/Codec.h"
#include "engine/codec/Lzma.h"

namespace {

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

TEST(LzmaParts, ALargeStreamDecodesAlikeFromOneThreadOrTwoInAnyPiecesAndBadPartSizesAreRefused) {
  // Copies of one block, each a little changed: the second part copies from the first.
  const std::string block = enginetest::RandomBytes(3, 100000);
  std::string text;
  for (char k = 0; text.size() < rtp::kPartedStream; ++k) text += block + k;
  std::vector<uint8_t> coded[2];
  rtp::Codec codec = rtp::Codec::Stored;
  for (int threads : {1, 2})
    ASSERT_TRUE(rtp::EncodeStream(enginetest::View(text), &coded[threads - 1], &codec, 0, 0, {}, threads));
  ASSERT_EQ(codec, rtp::Codec::LzmaParts);
  ASSERT_EQ(coded[0], coded[1]);
  const std::string stored(coded[0].begin(), coded[0].end());
  std::string decoded;
  for (size_t piece : {size_t{1} << 20, size_t{65536}, size_t{4099}})
    EXPECT_TRUE(Decode(stored, text.size(), piece, &decoded) && decoded == text) << piece;
  // The parts' sizes (the first's decoded, then coded size): none, the whole stream's, a first part cut
  // short or longer than the stream; then the stream cut short.
  rtp::VarintReader sizes(coded[0].data(), coded[0].size());
  const uint64_t split = sizes.Number(), firstCoded = sizes.Number();
  const std::string rest = stored.substr(stored.size() - sizes.Left());
  const auto head = [&](uint64_t decoded, uint64_t coded) {
    std::vector<uint8_t> bytes;
    rtp::PutVarint(&bytes, decoded);
    rtp::PutVarint(&bytes, coded);
    return std::string(bytes.begin(), bytes.end()) + rest;
  };
  for (const std::string& damaged : {head(0, firstCoded), head(text.size(), firstCoded), head(split, 1),
                                     head(split, stored.size()), stored.substr(0, stored.size() - 1)})
    EXPECT_FALSE(Decode(damaged, text.size(), 65536, &decoded));
}

TEST(LzmaParts, BytesToldByTheByteBeforeThemTakeTheWholeByteAsLiteralContextAndDecode) {
  // Each byte drawn from one of four that follow its predecessor, never repeating a string for long.
  std::string bytes(rtp::kPartedStream + 12345, '\0');
  std::mt19937 random(7);
  for (size_t i = 1; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(static_cast<uint8_t>(bytes[i - 1]) * 167 + 13 + (random() & 3) * 64);
  std::vector<uint8_t> coded;
  rtp::Codec codec = rtp::Codec::Stored;
  ASSERT_TRUE(rtp::EncodeStream(enginetest::View(bytes), &coded, &codec, 0, 0, {}, 2));
  ASSERT_EQ(codec, rtp::Codec::LzmaParts);
  rtp::VarintReader sizes(coded.data(), coded.size());
  sizes.Number(), sizes.Number();
  EXPECT_EQ(coded[coded.size() - sizes.Left()] % 9, 8);  // the property byte's literal context bits
  std::string decoded;
  EXPECT_TRUE(Decode(std::string(coded.begin(), coded.end()), bytes.size(), 65536, &decoded) &&
              decoded == bytes);
}

}  // namespace
