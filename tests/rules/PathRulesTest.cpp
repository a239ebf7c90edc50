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

TEST_F(BuildFileTest, BuildOfEachFile) {
  const struct {
    std::string text;
    uint32_t build;
    const char* rule;
  } cases[] = {
      {"[Client]\r\nname=zav\r\nbuild=4536\r\nlang=zh\r\n", 4536, "a line ended by CR LF"},
      {"[Client]\r\nlastbuild=4526\r\nbuild=4536\r\n", 4526, "the first key wins, inside a longer one too"},
      {"build=1\r\nbuild=2\r\n", 1, "the first key wins"},
      {"Build=4536\r\n", 0, "the key is case-sensitive"},
      {"[Client]\r\nversion=4536\r\n", 0, "no key"},
      {"", 0, "an empty file"},
      {"; " + std::string(1100, 'x') + "\r\nbuild=4536\r\n", 0, "the key beyond the first 1024 bytes"},
      {std::string(1020, ';') + "build=4536\r\n", 0, "the key cut by the 1024-byte limit"},
      // "build=4536\r\n" is 12 bytes; with 1012 bytes before it the line feed is byte 1023, the last read.
      {std::string(1012, ';') + "build=4536\r\n", 4536, "the line feed is the last byte read"},
      {std::string(1013, ';') + "build=4536\r\n", 0, "the line feed is one byte too far"},
      {"build=4536", 0, "no line feed"},
      {"build=4536\r", 0, "no line feed"},
      {"build=4536   \r\n", 4536, "trailing blanks"},
      {"build= \t4536\r\n", 4536, "leading blanks"},
      {"build=\r4536\r\n", 4536, "a leading carriage return"},
      {"build=+4536\r\n", 4536, "a plus sign"},
      {"build=v4536\r\n", 0, "a value starting with a letter"},
      {"build=4536;old\r\n", 4536, "digits stop at the first non-digit"},
      {"build=4536\nlang=zh\n", 4536, "a bare line feed keeps the last digit"},
      {"build=\r\n", 0, "an empty value"},
      {"build=\nbuild=4536\r\n", 0, "an empty value, then the key again"},
      {"build=\n123\n", 0, "the value does not go on to the next line"},
      {"build=\r\n5\r\n", 0, "nor past a carriage return"},
      {"build=4536          \r\n", 4536, "a long value keeps its first nine characters"},
      {"build=1234567890123\r\n", 123456789, "a long value keeps its first nine characters"},
      {"build=999999999\r\n", 999999999, "nine digits"},
      {"build=         4536\r\n", 0, "nine blanks fill the buffer before any digit"},
      {"build=-1\r\n", 4294967295u, "a negative value wraps to unsigned"},
      {"build=-0\r\n", 0, "minus zero"},
      {std::string("[Client]\0\r\nbuild=4536\r\n", 23), 0, "a zero byte ends the text"},
      {std::string("build=4536\0\r\n", 13), 0, "a zero byte ends the value's line"},
      {std::string("build=4536\r\n\0garbage", 21), 4536, "a zero byte after the line"},
  };
  for (const auto& c : cases) EXPECT_EQ(BuildFromFile(c.text), c.build) << c.rule;
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
