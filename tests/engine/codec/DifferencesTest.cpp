// Difference bytes coded by the old bytes around them: decoded exactly in any pieces, across the runs'
// edges, and refused when the stored bytes are cut short.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/codec/Codec.h"

namespace {

struct Stretch {
  size_t at;  // in the old bytes, which are one cover
  size_t length;
};

TEST(Differences, RunsDecodeExactlyInAnyPiecesAndACutStreamIsRefused) {
  // Old bytes of a few symbols; differences that follow them (as a moved address's bytes do), or none.
  std::string old = enginetest::RandomBytes(5, 300000);
  for (char& c : old) c = static_cast<char>(c & 0x13);
  std::string diff;
  const std::vector<Stretch> runs = {{0, 1}, {1, 5}, {100, 250000}, {299990, 10}};
  rtp::DifferenceRuns around;
  for (const Stretch& run : runs) {
    around.lengths.push_back(run.length);
    for (size_t k = run.at - rtp::kContextBefore; k != run.at + run.length + rtp::kContextAfter; ++k)
      around.around.push_back(k < old.size() ? old[k] : 0);  // from below 0, k wraps past the size
    for (size_t k = run.at; k < run.at + run.length; ++k)
      diff += static_cast<char>(old[k] == 0x12 ? old[k + 1] + (k & 1) : k % 97 == 0 ? 7 : 0);
  }
  std::vector<uint8_t> coded;
  ASSERT_TRUE(rtp::EncodeDifferences(enginetest::View(diff), around, &coded));
  ASSERT_LT(coded.size(), diff.size() / 20);
  const std::string stored(coded.begin(), coded.end());
  // The old bytes with the margins the apply gives: zero beyond the cover.
  const std::string padded =
      std::string(rtp::kContextBefore, '\0') + old + std::string(rtp::kContextAfter, '\0');
  const auto decode = [&](const std::string& bytes, size_t piece, std::string* out) {
    rtp::MemorySource source(enginetest::View(bytes));
    rtp::StreamDecoder decoder;
    bool noMemory = false;
    if (!decoder.Open(source, 0, bytes.size(), diff.size(), rtp::Codec::Differences, &noMemory)) return false;
    out->clear();
    for (const Stretch& run : runs) {
      for (size_t done = 0; done < run.length; done += piece) {
        const size_t n = std::min(piece, run.length - done);
        std::string part(n, '\0');
        const auto* at =
            reinterpret_cast<const uint8_t*>(padded.data()) + rtp::kContextBefore + run.at + done;
        if (!decoder.ReadDifferences(at, n, done == 0, reinterpret_cast<uint8_t*>(&part[0]))) return false;
        *out += part;
      }
    }
    return decoder.Finish();
  };
  std::string decoded;
  for (size_t piece : {size_t{1} << 20, size_t{65536}, size_t{4099}, size_t{1}})
    EXPECT_TRUE(decode(stored, piece, &decoded) && decoded == diff) << piece;
  EXPECT_FALSE(decode(stored.substr(0, stored.size() / 2), 65536, &decoded));
}

}  // namespace
