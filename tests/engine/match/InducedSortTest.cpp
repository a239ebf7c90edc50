// The suffix array the Windows tools sort themselves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/match/InducedSort.h"

// Texts whose suffixes sort by long equal runs, by many levels of names and by every byte value.
TEST(InducedSort, EverySuffixFollowsTheOneBelowIt) {
  std::string fibonacci = "ab", shorter = "a", letters = enginetest::RandomBytes(61, 4000);
  while (fibonacci.size() < 3000) std::swap(shorter, fibonacci += shorter);
  for (char& c : letters) c = static_cast<char>('a' + (c & 3));
  const std::string halves = std::string(1000, 'q') + letters.substr(0, 500);
  for (const std::string& text : {std::string("x"), std::string("ba"), std::string(3000, 'z'), fibonacci,
                                  letters, enginetest::RandomBytes(62, 4000), halves + halves}) {
    std::vector<int32_t> sa(text.size(), -1);
    rtp::InducedSort(enginetest::View(text), sa.data());
    std::vector<bool> seen(text.size(), false);
    for (size_t i = 0; i < sa.size(); ++i) {
      ASSERT_TRUE(sa[i] >= 0 && static_cast<size_t>(sa[i]) < text.size() && !seen[sa[i]]) << text.size();
      seen[sa[i]] = true;
      if (i > 0)
        ASSERT_LT(text.compare(sa[i - 1], std::string::npos, text, sa[i]), 0) << text.size() << " " << i;
    }
  }
}
