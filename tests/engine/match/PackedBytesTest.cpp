// Which files the builder takes as packed: random bytes are, code and runs of one byte are not, from 64
// KiB on, and a file beyond what is counted whole is counted in pieces over all of it.
#include <gtest/gtest.h>

#include <string>

#include "EngineTestSupport.h"
#include "engine/match/PackedBytes.h"

TEST(PackedBytes, RandomBytesFrom64KiBOnArePackedAndTextAndRunsAreNot) {
  const std::string code = "for (int i = 0; i < n; ++i) total += weights[i] * values[i];\n";
  std::string text;
  while (text.size() < (1u << 20)) text += code;
  std::string mostlyZero(20u << 20, '\0');
  mostlyZero.replace(0, 1u << 20, enginetest::RandomBytes(3, 1u << 20));
  const struct {
    std::string bytes;
    bool packed;
  } cases[] = {{enginetest::RandomBytes(1, 64u << 10), true},
               {enginetest::RandomBytes(1, (64u << 10) - 1), false},
               {text, false},
               {enginetest::RandomBytes(2, 20u << 20), true},
               {mostlyZero, false}};
  for (const auto& c : cases)
    EXPECT_EQ(rtp::LooksPacked(enginetest::View(c.bytes)), c.packed) << c.bytes.size();
}
