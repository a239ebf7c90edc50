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

TEST(PatchNameTest, UsualNameGivesBothFullVersions) {
  const Parsed p = Parse(L"zav.2.12.4526-2.12.4536.rtp");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(FormatVersion(p.from), L"2.12.4526");
  EXPECT_EQ(FormatVersion(p.to), L"2.12.4536");
}

TEST(PatchNameTest, NameMustBeLowerCasedByTheCaller) {
  EXPECT_FALSE(IsPatchEntryName(L"ZAV.2.12.4526-2.12.4536.rtp"));
  EXPECT_FALSE(Parse(L"ZAV.2.12.4526-2.12.4536.rtp").ok);
}

TEST(PatchNameTest, BuildsAloneGiveZeroMajorAndMinor) {
  const Parsed p = Parse(L"zav.4526-4536.rtp");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.from.major, 0);
  EXPECT_EQ(p.from.minor, 0);
  EXPECT_EQ(p.from.build, 4526);
  EXPECT_EQ(p.to.major, 0);
  EXPECT_EQ(p.to.minor, 0);
  EXPECT_EQ(p.to.build, 4536);
}

TEST(PatchNameTest, MissingMinorDotGivesZeroMinorAndKeepsTheBuild) {
  const Parsed p = Parse(L"zav.2.4526-3.4536.rtp");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(FormatVersion(p.from), L"2.0.4526");
  EXPECT_EQ(FormatVersion(p.to), L"3.0.4536");
}

TEST(PatchNameTest, SeparatorAfterZavIsSkippedWhateverItIs) {
  const Parsed p = Parse(L"zav_2.12.4526-2.12.4536.rtp");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(FormatVersion(p.from), L"2.12.4526");
  EXPECT_EQ(FormatVersion(p.to), L"2.12.4536");
}

TEST(PatchNameTest, TestPatchSuffixIsCutOff) {
  const Parsed p = Parse(L"zav.2.12.4526-2.12.4536_test.rtp");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(FormatVersion(p.from), L"2.12.4526");
  EXPECT_EQ(FormatVersion(p.to), L"2.12.4536");
}

TEST(PatchNameTest, TestMarkAnywhereCutsNineCharactersFromTheEnd) {
  // Only the suffix length depends on "_test", not where it is: here the last nine characters
  // "12345.rtp" are dropped although the name ends in a plain ".rtp".
  const Parsed p = Parse(L"my_test-zav.1.0.100-1.0.20012345.rtp");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.from.build, 100);
  EXPECT_EQ(p.to.build, 200);
}

TEST(PatchNameTest, TestMarkAtTheVeryStartDoesNotChangeTheSuffix) {
  const Parsed p = Parse(L"_testzav.1.0.100-1.0.200.rtp");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.from.build, 100);
  EXPECT_EQ(p.to.build, 200);
}

TEST(PatchNameTest, PatchMarkNeedNotStartTheName) {
  const Parsed p = Parse(L"new-zav.2.12.4526-2.12.4536.rtp");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(FormatVersion(p.from), L"2.12.4526");
  EXPECT_EQ(FormatVersion(p.to), L"2.12.4536");
}

TEST(PatchNameTest, NamesShorterThanSixteenCharactersAreRejected) {
  // Fifteen characters that would otherwise parse with non-zero builds.
  const Parsed shortName = Parse(L"zav.1.1-1.2.rtp");
  EXPECT_FALSE(shortName.ok);
  EXPECT_EQ(shortName.to.build, 0);
  const Parsed sixteen = Parse(L"zav.1.1-1.22.rtp");
  ASSERT_TRUE(sixteen.ok);
  EXPECT_EQ(sixteen.from.build, 1);
  EXPECT_EQ(sixteen.to.build, 22);
}

TEST(PatchNameTest, NameWithoutDashIsRejectedWithZeroVersions) {
  const Parsed p = Parse(L"zav.2.12.4526.2.12.4536.rtp");
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(FormatVersion(p.from), L"0.0.0");
  EXPECT_EQ(FormatVersion(p.to), L"0.0.0");
}

TEST(PatchNameTest, ZeroBuildOnEitherSideIsRejectedButTheVersionsAreStillRead) {
  const Parsed zeroFrom = Parse(L"zav.2.12.0-2.12.4536.rtp");
  EXPECT_FALSE(zeroFrom.ok);
  EXPECT_EQ(FormatVersion(zeroFrom.to), L"2.12.4536");
  const Parsed zeroTo = Parse(L"zav.2.12.4526-2.12.0.rtp");
  EXPECT_FALSE(zeroTo.ok);
  EXPECT_EQ(FormatVersion(zeroTo.from), L"2.12.4526");
}

TEST(PatchNameTest, EarlierResultsAreClearedBeforeAFailure) {
  Version from{1, 2, 3}, to{4, 5, 6};
  EXPECT_FALSE(ParsePatchName(L"zav.1-2.rtp", &from, &to));
  EXPECT_EQ(FormatVersion(from), L"0.0.0");
  EXPECT_EQ(FormatVersion(to), L"0.0.0");
}

TEST(PatchNameTest, NameWithoutPatchMarkIsRejected) {
  EXPECT_FALSE(Parse(L"patch.2.12.4526-2.12.4536.rtp").ok);
}

TEST(PatchNameTest, MarkTooCloseToTheEndLeavesNoVersionText) {
  EXPECT_FALSE(Parse(L"2.12.4526-2.12.4536zav").ok);
  EXPECT_FALSE(Parse(L"2.12.4526-2.12.4536.zav").ok);
  EXPECT_FALSE(Parse(L"2.12.4526-2.12.zav.rtp").ok);
  EXPECT_FALSE(Parse(L"2.12.4526-2.1_test.zav.rtp").ok);
}

TEST(PatchNameTest, DashOnlyBeforeTheVersionTextGivesNoToVersion) {
  const Parsed p = Parse(L"new-zav.2.12.4526.rtp");
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(FormatVersion(p.from), L"2.12.4526");
  EXPECT_EQ(FormatVersion(p.to), L"0.0.0");
}

TEST(PatchNameTest, NumbersAcceptLeadingBlanksAndPlusSign) {
  const Parsed p = Parse(L"zav. 2.+12. 4526-2.12.\r4536.rtp");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(FormatVersion(p.from), L"2.12.4526");
  EXPECT_EQ(p.to.build, 4536);
}

TEST(PatchNameTest, NumberStartingWithALetterIsZero) {
  const Parsed p = Parse(L"zav.v2.12.4526-2.12.b4536.rtp");
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(FormatVersion(p.from), L"0.12.4526");
  EXPECT_EQ(p.to.build, 0);
}

TEST(PatchNameTest, NegativeBuildIsNonZero) {
  const Parsed p = Parse(L"zav.1.1.100-1.1.-5.rtp");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.to.build, -5);
}

TEST(PatchNameTest, ValuesBeyondThirtyTwoBitsSaturate) {
  const Parsed big = Parse(L"zav.99999999999.2147483648.2147483647-1.1.-99999999999999999999.rtp");
  ASSERT_TRUE(big.ok);
  EXPECT_EQ(big.from.major, INT32_MAX);
  EXPECT_EQ(big.from.minor, INT32_MAX);
  EXPECT_EQ(big.from.build, INT32_MAX);
  EXPECT_EQ(big.to.build, INT32_MIN);

  const Parsed edge = Parse(L"zav.1.1.100-1.1.-2147483648.rtp");
  ASSERT_TRUE(edge.ok);
  EXPECT_EQ(edge.to.build, INT32_MIN);
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
