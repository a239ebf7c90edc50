#include "core/EngineErrors.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "framework/AppModule.h"
#include "win/WinTexts.h"

using namespace core;
namespace {

// Texts of the installer's string table, as the user reads them.
const wchar_t kCorruptPatch[] = L"补丁文件损坏，请重新下载并安装补丁。";
const wchar_t kFileNotFound[] =
    L"指定的文件未找到。\n\n这可能是因为您安装的ZAV客户端已经损害，请重新安装ZAV客户端。";
const wchar_t kBadCrc[] = L"指定的文件CRC校验值错误。\n\n这表明您的ZAV客户端已经损坏，请重新安装ZAV客户端。";
const wchar_t kUnknownPrefix[] =
    L"发生未知的错误，请尝试重新安装补丁。\n\n如果仍然发生这个错误，您可能需要重新安装ZAV的客户端。\nError "
    L"= ";

// Any value the function must overwrite.
const uint32_t kUnset = 0xdeadbeef;

class EngineErrorTextTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { theModule.Init(::GetModuleHandleW(nullptr)); }

  std::wstring TextOf(const char* engineText) {
    mOutcome = kUnset;
    return EngineErrorText(engineText, &mOutcome, mTexts);
  }
  static std::wstring Unknown(const wchar_t* engineText) { return std::wstring(kUnknownPrefix) + engineText; }

  uint32_t mOutcome = kUnset;
  CWinTexts mTexts;
};

TEST_F(EngineErrorTextTest, ErrorEightIsTheEnglishIncompatibleVersionText) {
  EXPECT_EQ(TextOf("ept8"), L"This patch was created with an incompatible version of RTPatch.");
  EXPECT_EQ(mOutcome, 0u);
}

TEST_F(EngineErrorTextTest, ErrorNineAsksForANewPatch) {
  EXPECT_EQ(TextOf("ept9"), kCorruptPatch);
  EXPECT_EQ(mOutcome, 3u);
}

TEST_F(EngineErrorTextTest, ErrorFifteenAsksToReinstallTheClient) {
  EXPECT_EQ(TextOf("ept0015 file not found"), kFileNotFound);
  EXPECT_EQ(mOutcome, 1u);
}

TEST_F(EngineErrorTextTest, ErrorThirtySixIsTheCrcTextAndReinstallsTheClient) {
  EXPECT_EQ(TextOf("ept0036"), kBadCrc);
  EXPECT_EQ(mOutcome, 1u);
}

TEST_F(EngineErrorTextTest, OtherNumbersShowTheWholeEngineTextInTheGeneralMessage) {
  EXPECT_EQ(TextOf("ept0012: cannot open file"), Unknown(L"ept0012: cannot open file"));
  EXPECT_EQ(mOutcome, 0u);
  EXPECT_EQ(TextOf("ept-8"), Unknown(L"ept-8"));
  EXPECT_EQ(mOutcome, 0u);
  EXPECT_EQ(TextOf("engine error ept"), Unknown(L"engine error ept"));
  EXPECT_EQ(mOutcome, 0u);
  EXPECT_EQ(TextOf("no number here"), Unknown(L"no number here"));
  EXPECT_EQ(mOutcome, 0u);
}

TEST_F(EngineErrorTextTest, FirstEptInsideExceptionHidesALaterKnownNumber) {
  EXPECT_EQ(TextOf("Exception ept15"), Unknown(L"Exception ept15"));
  EXPECT_EQ(mOutcome, 0u);
}

TEST_F(EngineErrorTextTest, EngineTextIsConvertedFromTheAnsiCodePage) {
  ASSERT_EQ(::GetACP(), 936u) << "the harness runs with the Chinese code page";
  // "补丁文件" in code page 936.
  EXPECT_EQ(TextOf("\xb2\xb9\xb6\xa1\xce\xc4\xbc\xfe ept99"), Unknown(L"补丁文件 ept99"));
}

TEST_F(EngineErrorTextTest, FormatCharactersInTheEngineTextAreShownAsTheyAre) {
  EXPECT_EQ(TextOf("ept77 %s %n %d 100%"), Unknown(L"ept77 %s %n %d 100%"));
}

TEST_F(EngineErrorTextTest, MissingEngineTextGivesTheGeneralMessageWithNothingAfterError) {
  EXPECT_EQ(TextOf(nullptr), Unknown(L""));
  EXPECT_EQ(mOutcome, 0u);
  EXPECT_EQ(TextOf(""), Unknown(L""));
  EXPECT_EQ(mOutcome, 0u);
}

TEST_F(EngineErrorTextTest, OutcomePlaceIsOptional) {
  EXPECT_EQ(EngineErrorText("ept36", nullptr, mTexts), kBadCrc);
  EXPECT_EQ(EngineErrorText("ept77", nullptr, mTexts), Unknown(L"ept77"));
}

}  // namespace
