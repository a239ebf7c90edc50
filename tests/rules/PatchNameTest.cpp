#include "rules/PatchName.h"

#include <climits>

#include <gtest/gtest.h>

using namespace rules;

namespace {

struct Parsed {
  bool ok = false;
  Version from, to;
};

Parsed Parse(const std::wstring& lowerName) {
  Parsed p;
  p.ok = ParsePatchName(lowerName, &p.from, &p.to);
  return p;
}

struct NameCase {
  const wchar_t* name;
  bool ok;
  const wchar_t* from;  // null: not looked at
  const wchar_t* to;
  const char* rule;
};

const NameCase kNames[] = {
    {L"zav.2.12.4526-2.12.4536.rtp", true, L"2.12.4526", L"2.12.4536", "the usual name"},
    {L"ZAV.2.12.4526-2.12.4536.rtp", false, nullptr, nullptr, "lower-cased by the caller"},
    {L"zav.4526-4536.rtp", true, L"0.0.4526", L"0.0.4536", "builds alone: major and minor 0"},
    {L"zav.2.4526-3.4536.rtp", true, L"2.0.4526", L"3.0.4536", "no minor dot: minor 0, the build kept"},
    {L"zav_2.12.4526-2.12.4536.rtp", true, L"2.12.4526", L"2.12.4536", "any separator after zav"},
    {L"zav.2.12.4526-2.12.4536_test.rtp", true, L"2.12.4526", L"2.12.4536", "the test suffix is cut off"},
    // Only the suffix length depends on "_test", not where it is: the last nine characters "12345.rtp"
    // are dropped although the name ends in a plain ".rtp".
    {L"my_test-zav.1.0.100-1.0.20012345.rtp", true, L"1.0.100", L"1.0.200", "a test mark anywhere"},
    {L"_testzav.1.0.100-1.0.200.rtp", true, L"1.0.100", L"1.0.200", "a test mark at the very start"},
    {L"new-zav.2.12.4526-2.12.4536.rtp", true, L"2.12.4526", L"2.12.4536", "the mark need not start it"},
    {L"zav.1.1-1.2.rtp", false, nullptr, L"0.0.0", "fifteen characters are too short"},
    {L"zav.1.1-1.22.rtp", true, L"1.0.1", L"1.0.22", "sixteen characters are enough"},
    {L"zav.2.12.4526.2.12.4536.rtp", false, L"0.0.0", L"0.0.0", "no dash"},
    {L"zav.2.12.0-2.12.4536.rtp", false, nullptr, L"2.12.4536", "a zero build refused, versions still read"},
    {L"zav.2.12.4526-2.12.0.rtp", false, L"2.12.4526", nullptr, "a zero build refused, versions still read"},
    {L"patch.2.12.4526-2.12.4536.rtp", false, nullptr, nullptr, "no patch mark"},
    {L"2.12.4526-2.12.4536zav", false, nullptr, nullptr, "the mark too close to the end"},
    {L"2.12.4526-2.12.4536.zav", false, nullptr, nullptr, "the mark too close to the end"},
    {L"2.12.4526-2.12.zav.rtp", false, nullptr, nullptr, "the mark too close to the end"},
    {L"2.12.4526-2.1_test.zav.rtp", false, nullptr, nullptr, "the mark too close to the end"},
    {L"new-zav.2.12.4526.rtp", false, L"2.12.4526", L"0.0.0", "a dash only before the version text"},
    {L"zav. 2.+12. 4526-2.12.\r4536.rtp", true, L"2.12.4526", L"2.12.4536", "leading blanks and plus signs"},
    {L"zav.v2.12.4526-2.12.b4536.rtp", false, L"0.12.4526", L"2.12.0",
     "a number starting with a letter is 0"},
    {L"zav.1.1.100-1.1.-5.rtp", true, nullptr, L"1.1.-5", "a negative build is not zero"},
    {L"zav.99999999999.2147483648.2147483647-1.1.-99999999999999999999.rtp", true,
     L"2147483647.2147483647.2147483647", L"1.1.-2147483648", "beyond 32 bits saturates"},
    {L"zav.1.1.100-1.1.-2147483648.rtp", true, nullptr, L"1.1.-2147483648", "the least 32-bit build"},
};

TEST(PatchNameTest, VersionsOfEachName) {
  for (const NameCase& c : kNames) {
    const Parsed p = Parse(c.name);
    EXPECT_EQ(p.ok, c.ok) << c.rule;
    if (c.from) EXPECT_EQ(FormatVersion(p.from), c.from) << c.rule;
    if (c.to) EXPECT_EQ(FormatVersion(p.to), c.to) << c.rule;
  }
  EXPECT_FALSE(IsPatchEntryName(L"ZAV.2.12.4526-2.12.4536.rtp")) << "lower-cased by the caller";
}

TEST(PatchNameTest, EarlierResultsAreClearedBeforeAFailure) {
  Version from{1, 2, 3}, to{4, 5, 6};
  EXPECT_FALSE(ParsePatchName(L"zav.1-2.rtp", &from, &to));
  EXPECT_EQ(FormatVersion(from), L"0.0.0");
  EXPECT_EQ(FormatVersion(to), L"0.0.0");
}

TEST(PatchNameTest, NullOutputsAreAllowed) {
  EXPECT_TRUE(ParsePatchName(L"zav.2.12.4526-2.12.4536.rtp", nullptr, nullptr));
}

TEST(PatchNameTest, PatchEntryIsTheOneContainingZav) {
  EXPECT_TRUE(IsPatchEntryName(L"zav.2.12.4526-2.12.4536.rtp"));
  EXPECT_TRUE(IsPatchEntryName(L"new-zav.rtp"));
  EXPECT_FALSE(IsPatchEntryName(L"patchw32.dll"));
  EXPECT_FALSE(IsPatchEntryName(L"patchnotes4536.rtf"));
  EXPECT_FALSE(IsPatchEntryName(L""));
}

TEST(VersionTest, FormatsAsThreeSignedDecimals) {
  EXPECT_EQ(FormatVersion(Version()), L"0.0.0");
  EXPECT_EQ(FormatVersion(Version{2, 12, 4526}), L"2.12.4526");
  EXPECT_EQ(FormatVersion(Version{-1, 0, INT32_MAX}), L"-1.0.2147483647");
}

}  // namespace
