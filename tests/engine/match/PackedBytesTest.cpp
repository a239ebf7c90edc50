// Random bytes look packed from 64 KiB on, counted whole or in pieces; code and runs of one byte do not.
#include <gtest/gtest.h>

#include <string>

#include "EngineTestSupport.h"
#include "engine/match/PackedBytes.h"

TEST(PackedBytes, RandomBytesFrom64KiBOnArePackedAndTextAndRunsAreNot) {
  std::string text;
  while (text.size() < (1u << 20)) text += "for (int i = 0; i < n; ++i) total += weights[i] * values[i];\n";
  const std::pair<std::string, bool> cases[] = {{enginetest::RandomBytes(1, 64u << 10), true},
                                                {enginetest::RandomBytes(1, (64u << 10) - 1), false},
                                                {text, false},
                                                {enginetest::RandomBytes(2, 20u << 20), true},
                                                {std::string(20u << 20, '\0'), false}};
  for (const auto& c : cases)
    EXPECT_EQ(rtp::LooksPacked(enginetest::View(c.first)), c.second) << c.first.size();
}
