#include "rules/CommandLine.h"

#include <gtest/gtest.h>

using namespace rules;
namespace {

std::wstring Path(const std::wstring& cmdLine) {
  return GetCommandLineValue(cmdLine, L"path");
}

TEST(CommandLineTest, EqualsSignForm) {
  EXPECT_EQ(Path(L"path=C:\\Games\\ZAV"), L"C:\\Games\\ZAV");
}

TEST(CommandLineTest, ForwardSlashesAreReturnedAsGiven) {
  // The start sequence turns them into backslashes itself.
  EXPECT_EQ(Path(L"path=C:/Games/ZAV/"), L"C:/Games/ZAV/");
}

TEST(CommandLineTest, DashedKeyWithBlank) {
  EXPECT_EQ(Path(L"-path C:\\Games\\ZAV"), L"C:\\Games\\ZAV");
}

TEST(CommandLineTest, AnyOneCharacterAfterTheKeyIsSkipped) {
  EXPECT_EQ(Path(L"/path:C:\\Games\\ZAV"), L"C:\\Games\\ZAV");
  EXPECT_EQ(Path(L"pathXC:\\Games\\ZAV"), L"C:\\Games\\ZAV");
}

TEST(CommandLineTest, ValueEndsAtTheNextBlank) {
  EXPECT_EQ(Path(L"-silent path=C:\\Games\\ZAV -log x.txt"), L"C:\\Games\\ZAV");
  EXPECT_EQ(Path(L"path=c x"), L"c");
}

TEST(CommandLineTest, QuotedValueMayHoldBlanks) {
  EXPECT_EQ(Path(L"-path \"C:\\Program Files\\ZAV\" -silent"), L"C:\\Program Files\\ZAV");
  EXPECT_EQ(Path(L"path=\"C:\\Program Files\\ZAV\""), L"C:\\Program Files\\ZAV");
}

TEST(CommandLineTest, EmptyQuotesGiveEmptyValue) {
  EXPECT_EQ(Path(L"path=\"\" -x"), L"");
}

TEST(CommandLineTest, UnclosedQuoteRunsToTheNextBlankAfterTheQuote) {
  EXPECT_EQ(Path(L"path=\"C:\\Program Files\\ZAV"), L"C:\\Program");
  EXPECT_EQ(Path(L"path=\"C:\\Games\\ZAV"), L"C:\\Games\\ZAV");
}

TEST(CommandLineTest, UnclosedQuoteKeepsABlankRightAfterIt) {
  // The blank search starts one character after the value's start, so a first blank belongs to it.
  EXPECT_EQ(Path(L"path=\" C:\\Games -x"), L" C:\\Games");
}

TEST(CommandLineTest, FirstCharacterOfAnUnquotedValueIsKeptEvenIfBlank) {
  EXPECT_EQ(Path(L"-path  C:\\Games -x"), L" C:\\Games");
}

TEST(CommandLineTest, QuoteInsideAValueIsOrdinaryText) {
  EXPECT_EQ(Path(L"path=C:\\a\"b c"), L"C:\\a\"b");
}

TEST(CommandLineTest, KeyAtTheVeryEndGivesEmptyValue) {
  EXPECT_EQ(Path(L"-silent path"), L"");
  EXPECT_EQ(Path(L"-silent path="), L"");
  EXPECT_EQ(Path(L"path=\""), L"");
}

TEST(CommandLineTest, SingleCharacterValueAtTheEnd) {
  EXPECT_EQ(Path(L"path=d"), L"d");
}

TEST(CommandLineTest, KeyIsCaseSensitive) {
  EXPECT_EQ(Path(L"PATH=C:\\Games\\ZAV"), L"");
}

TEST(CommandLineTest, FirstOccurrenceWinsEvenInsideALongerWord) {
  EXPECT_EQ(Path(L"-classpath=D:\\lib path=C:\\Games\\ZAV"), L"D:\\lib");
}

TEST(CommandLineTest, MissingKeyOrEmptyLineGivesEmptyValue) {
  EXPECT_EQ(Path(L""), L"");
  EXPECT_EQ(Path(L"-silent -log x.txt"), L"");
  EXPECT_EQ(GetCommandLineValue(L"path=C:\\Games", L""), L"");
}

}  // namespace
