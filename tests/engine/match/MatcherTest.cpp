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

// One style's searches kept for the other: each style gets the covers it finds alone, in either order.
TEST(FindCovers, SearchesSharedByTheStylesGiveTheCoversEachFindsAlone) {
  // Four letters: short matches everywhere, as in text, so the styles' margins decide.
  std::string text = enginetest::RandomBytes(53, 100000);
  for (char& c : text) c = static_cast<char>('a' + (c & 3));
  text += std::string(9000, '\0');
  std::string edited = text.substr(20000) + text.substr(0, 20000);
  // Letters of its own every 1,500 bytes: searched at every position, found short and far.
  std::string own = enginetest::RandomBytes(54, 300);
  for (char& c : own) c = static_cast<char>('a' + (c & 3));
  for (size_t at = 500; at < 30000; at += 1500) edited.replace(at, own.size(), own);
  rtp::OldIndex index;
  index.bytes = enginetest::View(text);
  ASSERT_TRUE(rtp::BuildIndex(&index));
  using Style = rtp::CoverStyle;
  for (const auto& order : {std::vector<Style>{Style::Differences, Style::ExactPieces},
                            std::vector<Style>{Style::ExactPieces, Style::Differences}}) {
    rtp::FoundMatches found;
    for (const Style style : order) {
      const auto places = [&](rtp::FoundMatches* found) {
        std::vector<uint64_t> out;
        for (const rtp::Cover& c : rtp::FindCovers(index, enginetest::View(edited), 0, style, found))
          out.insert(out.end(), {c.oldPos, c.newPos, c.length});
        return out;
      };
      EXPECT_EQ(places(&found), places(nullptr));
    }
  }
}

// An index leaving out what a known run explains: the covers of a file take the run, and find its edited
// part where it lies in the bytes left in the index.
TEST(FindCovers, AnIndexLeavingOutAKnownRunFindsTheRestWhereItLies) {
  const std::string run = enginetest::RandomBytes(55, 30000), kept = enginetest::RandomBytes(56, 20000);
  const std::string old = run + enginetest::RandomBytes(57, 5000) + kept;
  std::string fresh = kept + run;
  for (size_t at = 100; at < kept.size(); at += 1000) fresh[at] ^= 1;
  rtp::OldIndex index;
  index.bytes = enginetest::View(old);
  ASSERT_TRUE(rtp::BuildIndex(&index, {{0, 30000}}));
  const std::vector<rtp::Cover> known = {{0, 20000, 30000, 0}};
  for (const rtp::CoverStyle style : {rtp::CoverStyle::Differences, rtp::CoverStyle::ExactPieces}) {
    uint64_t agree = 0;
    for (const rtp::Cover& c : rtp::FindCovers(index, enginetest::View(fresh), 0, style, nullptr, &known))
      for (uint64_t k = 0; k < c.length; ++k) agree += old[c.oldPos + k] == fresh[c.newPos + k];
    EXPECT_GE(agree, fresh.size() - 40) << static_cast<int>(style);
  }
}
