// Covers: where the bytes of a new file are found in the old data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/match/Matcher.h"

// Edits of 28 bytes that another old file also holds, with 20 bytes of the text on each side: a cover
// there matches 28 bytes more than the file's own alignment, and costs a long move there and one back.
TEST(FindCovers, AnAlignmentFarAwayIsNotTakenForAFewBytesMore) {
  const std::string text = enginetest::RandomBytes(51, 65536);
  std::string edited = text, elsewhere = enginetest::RandomBytes(52, 65536);
  for (size_t at = 1000; at + 1000 < text.size(); at += 2000) {
    edited.replace(at, 28, enginetest::RandomBytes(static_cast<uint32_t>(at), 28));
    elsewhere.replace(at, 68, edited.substr(at - 20, 68));
  }
  const std::string old = text + elsewhere;
  rtp::OldIndex index;
  index.bytes = enginetest::View(old);
  ASSERT_TRUE(rtp::BuildIndex(&index));
  for (const rtp::CoverStyle style : {rtp::CoverStyle::Differences, rtp::CoverStyle::ExactPieces}) {
    const std::vector<rtp::Cover> covers = rtp::FindCovers(index, enginetest::View(edited), 0, style);
    ASSERT_FALSE(covers.empty());
    for (const rtp::Cover& cover : covers) EXPECT_LT(cover.oldPos, text.size()) << static_cast<int>(style);
  }
}
