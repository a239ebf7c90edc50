#include "rules/FileNames.h"
#include "rules/PathRules.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace rules;
namespace {

TEST(JoinPathTest, FolderWithOrWithoutTrailingBackslashJoinsCleanly) {
  EXPECT_EQ(JoinPath(L"c:\\a", L"zav.exe"), L"c:\\a\\zav.exe");
  EXPECT_EQ(JoinPath(L"c:\\a\\", L"zav.exe"), L"c:\\a\\zav.exe");
  EXPECT_EQ(JoinPath(L"c:\\program files\\norrat\\zav\\", L"bin\\zav.exe"),
            L"c:\\program files\\norrat\\zav\\bin\\zav.exe");
}

TEST(JoinPathTest, EmptyFolderGivesRootOfCurrentDrive) {
  EXPECT_EQ(JoinPath(L"", L"zav.exe"), L"\\zav.exe");
}

TEST(JoinPathTest, EmptyNameKeepsOneSeparator) {
  EXPECT_EQ(JoinPath(L"c:\\a", L""), L"c:\\a\\");
  EXPECT_EQ(JoinPath(L"c:\\a\\", L""), L"c:\\a\\");
}

TEST(JoinPathTest, PairsCollapseInOnePass) {
  // Folder ending in two backslashes: three in a row become two.
  EXPECT_EQ(JoinPath(L"c:\\a\\\\", L"x"), L"c:\\a\\\\x");
  // Three at the end of the folder: four become two.
  EXPECT_EQ(JoinPath(L"c:\\a\\\\\\", L"x"), L"c:\\a\\\\x");
  // Doubled separators inside either part are collapsed as well.
  EXPECT_EQ(JoinPath(L"c:\\\\a", L"bin\\\\zav.exe"), L"c:\\a\\bin\\zav.exe");
}

TEST(JoinPathTest, NetworkPrefixIsShortened) {
  EXPECT_EQ(JoinPath(L"\\\\server\\share", L"zav.exe"), L"\\server\\share\\zav.exe");
}

// Writes the text to a real configuration file and reads it back the way the installer does: at most
// kBuildFileBytes from the start.
class BuildFileTest : public ::testing::Test {
 protected:
  uint32_t BuildFromFile(const std::string& contents) {
    {
      std::ofstream out(path_, std::ios::binary | std::ios::trunc);
      out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    }
    std::ifstream in(path_, std::ios::binary);
    std::vector<char> buf(kBuildFileBytes);
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    // An exact-size copy, so reading past the bytes read is caught by AddressSanitizer.
    std::vector<char> read(buf.begin(), buf.begin() + in.gcount());
    return ParseBuildValue(read.data(), read.size());
  }
  void TearDown() override { std::remove(path_.c_str()); }

  // One file per test: CTest runs the tests of this suite side by side.
  const std::string path_ = ::testing::TempDir() + "common-" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini";
};

TEST_F(BuildFileTest, BuildLineWithCrLf) {
  EXPECT_EQ(BuildFromFile("[Client]\r\nname=zav\r\nbuild=4536\r\nlang=zh\r\n"), 4536u);
}

TEST_F(BuildFileTest, FirstOccurrenceWinsEvenInsideALongerKey) {
  EXPECT_EQ(BuildFromFile("[Client]\r\nlastbuild=4526\r\nbuild=4536\r\n"), 4526u);
  EXPECT_EQ(BuildFromFile("build=1\r\nbuild=2\r\n"), 1u);
}

TEST_F(BuildFileTest, KeyIsCaseSensitive) {
  EXPECT_EQ(BuildFromFile("Build=4536\r\n"), 0u);
}

TEST_F(BuildFileTest, NoKeyGivesZero) {
  EXPECT_EQ(BuildFromFile("[Client]\r\nversion=4536\r\n"), 0u);
}

TEST_F(BuildFileTest, EmptyFileGivesZero) {
  EXPECT_EQ(BuildFromFile(""), 0u);
}

TEST_F(BuildFileTest, KeyBeyondTheFirst1024BytesIsNotSeen) {
  const std::string padding = "; " + std::string(1100, 'x') + "\r\n";
  EXPECT_EQ(BuildFromFile(padding + "build=4536\r\n"), 0u);
}

TEST_F(BuildFileTest, KeyCutByThe1024ByteLimitIsNotSeen) {
  const std::string padding(1020, ';');
  EXPECT_EQ(BuildFromFile(padding + "build=4536\r\n"), 0u);
}

TEST_F(BuildFileTest, LineFeedMustLieWithinTheFirst1024Bytes) {
  // "build=4536\r\n" is 12 bytes; with 1012 bytes before it the line feed is byte 1023, the last one read.
  EXPECT_EQ(BuildFromFile(std::string(1012, ';') + "build=4536\r\n"), 4536u);
  EXPECT_EQ(BuildFromFile(std::string(1013, ';') + "build=4536\r\n"), 0u);
}

TEST_F(BuildFileTest, ValueWithoutLineFeedGivesZero) {
  EXPECT_EQ(BuildFromFile("build=4536"), 0u);
  EXPECT_EQ(BuildFromFile("build=4536\r"), 0u);
}

TEST_F(BuildFileTest, TrailingBlanksAreIgnored) {
  EXPECT_EQ(BuildFromFile("build=4536   \r\n"), 4536u);
}

TEST_F(BuildFileTest, LeadingBlanksAndPlusSignAreAccepted) {
  EXPECT_EQ(BuildFromFile("build= \t4536\r\n"), 4536u);
  EXPECT_EQ(BuildFromFile("build=\r4536\r\n"), 4536u);
  EXPECT_EQ(BuildFromFile("build=+4536\r\n"), 4536u);
}

TEST_F(BuildFileTest, ValueStartingWithALetterGivesZero) {
  EXPECT_EQ(BuildFromFile("build=v4536\r\n"), 0u);
}

TEST_F(BuildFileTest, DigitsStopAtTheFirstNonDigit) {
  EXPECT_EQ(BuildFromFile("build=4536;old\r\n"), 4536u);
}

TEST_F(BuildFileTest, BareLineFeedKeepsTheLastDigit) {
  EXPECT_EQ(BuildFromFile("build=4536\nlang=zh\n"), 4536u);
}

TEST_F(BuildFileTest, EmptyValueGivesZero) {
  EXPECT_EQ(BuildFromFile("build=\r\n"), 0u);
  EXPECT_EQ(BuildFromFile("build=\nbuild=4536\r\n"), 0u);
  EXPECT_EQ(BuildFromFile("build=\n123\n"), 0u) << "the value does not go on to the next line";
  EXPECT_EQ(BuildFromFile("build=\r\n5\r\n"), 0u) << "nor past a carriage return";
}

TEST_F(BuildFileTest, LongValueKeepsItsFirstNineCharacters) {
  EXPECT_EQ(BuildFromFile("build=4536          \r\n"), 4536u);
  EXPECT_EQ(BuildFromFile("build=1234567890123\r\n"), 123456789u);
  EXPECT_EQ(BuildFromFile("build=999999999\r\n"), 999999999u);
  // Nine blanks fill the buffer before any digit.
  EXPECT_EQ(BuildFromFile("build=         4536\r\n"), 0u);
}

TEST_F(BuildFileTest, NegativeValueWrapsToUnsigned) {
  EXPECT_EQ(BuildFromFile("build=-1\r\n"), 4294967295u);
  EXPECT_EQ(BuildFromFile("build=-0\r\n"), 0u);
}

TEST_F(BuildFileTest, ZeroByteEndsTheText) {
  EXPECT_EQ(BuildFromFile(std::string("[Client]\0\r\nbuild=4536\r\n", 23)), 0u);
  EXPECT_EQ(BuildFromFile(std::string("build=4536\0\r\n", 13)), 0u);
  EXPECT_EQ(BuildFromFile(std::string("build=4536\r\n\0garbage", 21)), 4536u);
}

TEST(ParseBuildValueTest, NothingToReadGivesZero) {
  EXPECT_EQ(ParseBuildValue(nullptr, 0), 0u);
  EXPECT_EQ(ParseBuildValue(nullptr, 16), 0u);
  const char text[] = "build=4536\r\n";
  EXPECT_EQ(ParseBuildValue(text, 0), 0u);
}

TEST(ParseBuildValueTest, OnlyTheGivenBytesAreExamined) {
  const char text[] = "build=4536\r\nbuild=4537\r\n";
  EXPECT_EQ(ParseBuildValue(text, 12), 4536u);
  EXPECT_EQ(ParseBuildValue(text, 11), 0u);  // the line feed is just outside
}

}  // namespace

namespace {

TEST(FileNamesTest, OnlyOnePlainFileNamePasses) {
  for (const wchar_t* name :
       {L"zav.2.12.4526-2.12.4536.rtp", L"patchw32.dll", L"console.txt", L"com10", L"lpt0"})
    EXPECT_TRUE(IsPlainFileName(name)) << name;
  for (const wchar_t* name : {L"", L".", L"..", L"..\\zav.rtp", L"a/b", L"c:zav.rtp", L"zav\x01.rtp", L"CON",
                              L"nul.txt", L"Com1.rtp", L"lpt9 .x", L"aux"})
    EXPECT_FALSE(IsPlainFileName(name)) << name;
}

}  // namespace
