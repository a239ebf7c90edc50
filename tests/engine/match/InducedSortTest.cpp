// The suffix array the Windows tools sort themselves.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/match/InducedSort.h"

namespace {

// Texts that sort suffixes by long equal runs, by many levels of names, and by every byte value.
std::vector<std::string> Texts() {
  std::string fibonacci = "a", before = "b";
  while (fibonacci.size() < 3000) {
    const std::string next = fibonacci + before;
    before = fibonacci;
    fibonacci = next;
  }
  std::string letters = enginetest::RandomBytes(61, 4000);
  for (char& c : letters) c = static_cast<char>('a' + (c & 3));
  return {"x",
          "ba",
          "ab",
          std::string(3000, 'z'),
          fibonacci,
          letters,
          enginetest::RandomBytes(62, 4000),
          std::string(1000, 'q') + letters.substr(0, 500) + std::string(1000, 'q') + letters.substr(0, 500)};
}

}  // namespace

TEST(InducedSort, EverySuffixFollowsTheOneBelowIt) {
  for (const std::string& text : Texts()) {
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
