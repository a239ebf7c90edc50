#include "rules/ArchiveRules.h"

#include <initializer_list>

#include <gtest/gtest.h>

using namespace rules;
namespace {

ArchiveScan ScanAll(std::initializer_list<const wchar_t*> names) {
  ArchiveScan scan;
  for (const wchar_t* name : names) ScanArchiveName(name, &scan);
  return scan;
}

TEST(ArchiveRulesTest, RequiredFragmentsAreZavAndPatch) {
  EXPECT_STREQ(RequiredEntryNames[0], L"zav");
  EXPECT_STREQ(RequiredEntryNames[1], L"patch");
}

TEST(ArchiveRulesTest, UsualArchiveCountsAllThreeEntries) {
  const ArchiveScan scan = ScanAll({L"patchw32.dll", L"patchnotes4536.rtf", L"zav.2.12.4526-2.12.4536.rtp"});
  EXPECT_EQ(scan.requiredHits, 3u);
  EXPECT_TRUE(scan.complete);
  EXPECT_FALSE(scan.testPatch);
  EXPECT_EQ(scan.notesName, L"patchnotes4536.rtf");
}

TEST(ArchiveRulesTest, EmptyArchiveIsIncomplete) {
  const ArchiveScan scan = ScanAll({});
  EXPECT_EQ(scan.requiredHits, 0u);
  EXPECT_FALSE(scan.complete);
  EXPECT_TRUE(scan.notesName.empty());
}

TEST(ArchiveRulesTest, SingleEntryWithBothFragmentsCountsOnce) {
  const ArchiveScan scan = ScanAll({L"zav_patch.rtp"});
  EXPECT_EQ(scan.requiredHits, 1u);
  EXPECT_FALSE(scan.complete);
}

TEST(ArchiveRulesTest, TwoMatchingEntriesComplete) {
  ArchiveScan scan;
  ScanArchiveName(L"patchw32.dll", &scan);
  EXPECT_FALSE(scan.complete);
  ScanArchiveName(L"zav.2.12.4526-2.12.4536.rtp", &scan);
  EXPECT_TRUE(scan.complete);
}

TEST(ArchiveRulesTest, EntriesWithoutFragmentsDoNotCount) {
  const ArchiveScan scan = ScanAll({L"readme.txt", L"notes.rtf", L"zav.2.12.4526-2.12.4536.rtp"});
  EXPECT_EQ(scan.requiredHits, 1u);
  EXPECT_FALSE(scan.complete);
}

TEST(ArchiveRulesTest, NamesMustBeLowerCasedByTheCaller) {
  const ArchiveScan scan = ScanAll({L"PATCHW32.DLL", L"ZAV.2.12.4526-2.12.4536_TEST.RTP"});
  EXPECT_EQ(scan.requiredHits, 0u);
  EXPECT_FALSE(scan.testPatch);
}

TEST(ArchiveRulesTest, AnyNameContainingTestMarksATestPatch) {
  EXPECT_TRUE(ScanAll({L"zav.2.12.4526-2.12.4536_test.rtp"}).testPatch);
  // No word boundary: "latest" contains "test" too.
  EXPECT_TRUE(ScanAll({L"latest.txt"}).testPatch);
}

TEST(ArchiveRulesTest, TestFlagIsNeverClearedByLaterEntries) {
  const ArchiveScan scan = ScanAll({L"zav.2.12.4526-2.12.4536_test.rtp", L"patchw32.dll", L"readme.txt"});
  EXPECT_TRUE(scan.testPatch);
}

TEST(ArchiveRulesTest, LaterNotesEntryReplacesAnEarlierOne) {
  const ArchiveScan scan = ScanAll({L"patchnotes4526.rtf", L"patchw32.dll", L"patchnotes4536.rtf"});
  EXPECT_EQ(scan.notesName, L"patchnotes4536.rtf");
}

TEST(ArchiveRulesTest, EntriesWithoutNotesKeepTheNotesName) {
  const ArchiveScan scan = ScanAll({L"patchnotes4536.rtf", L"zav.2.12.4526-2.12.4536.rtp"});
  EXPECT_EQ(scan.notesName, L"patchnotes4536.rtf");
}

TEST(ArchiveRulesTest, NullScanIsIgnored) {
  ScanArchiveName(L"patchw32.dll", nullptr);
}

}  // namespace
