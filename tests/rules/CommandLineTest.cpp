#include "rules/CommandLine.h"

#include <gtest/gtest.h>

using namespace rules;

namespace {

struct PathCase {
  const wchar_t* line;
  const wchar_t* value;
  const char* rule;
};

// The value of "path" in each command line.
const PathCase kPathCases[] = {
    {L"path=C:\\Games\\ZAV", L"C:\\Games\\ZAV", "the equals-sign form"},
    {L"path=C:/Games/ZAV/", L"C:/Games/ZAV/", "forward slashes as given (the start sequence turns them)"},
    {L"-path C:\\Games\\ZAV", L"C:\\Games\\ZAV", "a dashed key with a blank"},
    {L"/path:C:\\Games\\ZAV", L"C:\\Games\\ZAV", "any one character after the key is skipped"},
    {L"pathXC:\\Games\\ZAV", L"C:\\Games\\ZAV", "any one character after the key is skipped"},
    {L"-silent path=C:\\Games\\ZAV -log x.txt", L"C:\\Games\\ZAV", "the value ends at the next blank"},
    {L"path=c x", L"c", "a one-character value ends at the next blank"},
    {L"-path \"C:\\Program Files\\ZAV\" -silent", L"C:\\Program Files\\ZAV", "a quoted value holds blanks"},
    {L"path=\"C:\\Program Files\\ZAV\"", L"C:\\Program Files\\ZAV", "a quoted value holds blanks"},
    {L"path=\"\" -x", L"", "empty quotes give an empty value"},
    {L"path=\"C:\\Program Files\\ZAV", L"C:\\Program", "an unclosed quote runs to the next blank"},
    {L"path=\"C:\\Games\\ZAV", L"C:\\Games\\ZAV", "an unclosed quote runs to the end"},
    // The blank search starts one character after the value's start, so a first blank belongs to it.
    {L"path=\" C:\\Games -x", L" C:\\Games", "an unclosed quote keeps a blank right after it"},
    {L"-path  C:\\Games -x", L" C:\\Games", "an unquoted value keeps its first character, even a blank"},
    {L"path=C:\\a\"b c", L"C:\\a\"b", "a quote inside a value is ordinary text"},
    {L"-silent path", L"", "the key at the very end"},
    {L"-silent path=", L"", "the key at the very end"},
    {L"path=\"", L"", "the key at the very end"},
    {L"path=d", L"d", "a one-character value at the end"},
    {L"PATH=C:\\Games\\ZAV", L"", "the key is case-sensitive"},
    {L"-classpath=D:\\lib path=C:\\Games\\ZAV", L"D:\\lib",
     "the first occurrence wins, inside a longer word too"},
    {L"", L"", "an empty line"},
    {L"-silent -log x.txt", L"", "no key"},
};

TEST(CommandLineTest, PathValueOfEachLine) {
  for (const PathCase& c : kPathCases) EXPECT_EQ(GetCommandLineValue(c.line, L"path"), c.value) << c.rule;
}

TEST(CommandLineTest, AnEmptyKeyGivesAnEmptyValue) {
  EXPECT_EQ(GetCommandLineValue(L"path=C:\\Games", L""), L"");
}

}  // namespace
