#include "rules/EngineErrorNumber.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace rules;
namespace {

// The number read from an exact-size copy of the text, so a read past its terminator is caught by
// AddressSanitizer.
int32_t NumberOf(const std::string& text) {
  std::vector<char> bytes(text.begin(), text.end());
  bytes.push_back('\0');
  return EngineErrorNumber(bytes.data());
}

TEST(EngineErrorNumberTest, LeadingZerosAreDecimal) {
  EXPECT_EQ(NumberOf("ept0036"), 36);
  EXPECT_EQ(NumberOf("ept0015"), 15);
  EXPECT_EQ(NumberOf("ept010"), 10);  // not octal
}

TEST(EngineErrorNumberTest, NumberRightAfterEptInsideALongerText) {
  EXPECT_EQ(NumberOf("ept9"), 9);
  EXPECT_EQ(NumberOf("Error ept36: CRC mismatch in zav.exe"), 36);
  EXPECT_EQ(NumberOf("ept15abc"), 15);
}

TEST(EngineErrorNumberTest, OnlyTheFirstEptCountsEvenInsideAWord) {
  EXPECT_EQ(NumberOf("Exception in module, ept15"), 0);
  EXPECT_EQ(NumberOf("accepted ept36"), 0);
  EXPECT_EQ(NumberOf("ept8 then ept36"), 8);
}

TEST(EngineErrorNumberTest, SignAndLeadingWhiteSpaceAreTaken) {
  EXPECT_EQ(NumberOf("ept-8"), -8);
  EXPECT_EQ(NumberOf("ept+9"), 9);
  EXPECT_EQ(NumberOf("ept 15"), 15);
  EXPECT_EQ(NumberOf("ept\t\r\n\v\f 36"), 36);
  EXPECT_EQ(NumberOf("ept -8"), -8);
}

TEST(EngineErrorNumberTest, NoDigitsGiveZero) {
  EXPECT_EQ(NumberOf("ept"), 0);
  EXPECT_EQ(NumberOf("error ept"), 0);
  EXPECT_EQ(NumberOf("ept-"), 0);
  EXPECT_EQ(NumberOf("ept- 5"), 0);
  EXPECT_EQ(NumberOf("ept+-5"), 0);
  EXPECT_EQ(NumberOf("eptx15"), 0);
  EXPECT_EQ(NumberOf("ept   "), 0);
}

TEST(EngineErrorNumberTest, MissingEptGivesZero) {
  EXPECT_EQ(NumberOf(""), 0);
  EXPECT_EQ(NumberOf("ep"), 0);
  EXPECT_EQ(NumberOf("xe"), 0);
  EXPECT_EQ(NumberOf("EPT15"), 0);
  EXPECT_EQ(NumberOf("Ept15"), 0);
  EXPECT_EQ(NumberOf("ep t15"), 0);
  EXPECT_EQ(NumberOf("15"), 0);
  EXPECT_EQ(EngineErrorNumber(nullptr), 0);
}

TEST(EngineErrorNumberTest, EptAfterEightBitTextIsFound) {
  // "文件" in code page 936 before the number.
  EXPECT_EQ(NumberOf("\xce\xc4\xbc\xfe ept36"), 36);
  EXPECT_EQ(NumberOf("\xff\xfe\x80"
                     "ept9"),
            9);
}

TEST(EngineErrorNumberTest, ValuesBeyond32BitsAreClamped) {
  EXPECT_EQ(NumberOf("ept2147483647"), INT32_MAX);
  EXPECT_EQ(NumberOf("ept2147483648"), INT32_MAX);
  EXPECT_EQ(NumberOf("ept-2147483648"), INT32_MIN);
  EXPECT_EQ(NumberOf("ept-2147483649"), INT32_MIN);
  EXPECT_EQ(NumberOf("ept99999999999999999999999999999999"), INT32_MAX);
  EXPECT_EQ(NumberOf("ept-99999999999999999999999999999999"), INT32_MIN);
  EXPECT_EQ(NumberOf("ept00000000000000000000000000000036"), 36);
}

}  // namespace
