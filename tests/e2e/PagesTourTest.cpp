// The pages a user meets, driven on the real installer: from the welcome page to installing, and the
// failed page of an installer that carries no archive. Screenshots go to TESSERINE_SCREENSHOT_DIR when set.
#include <gtest/gtest.h>

#include "Driver.h"
#include "PackedInstaller.h"

namespace {

void SaveScreenshot(const e2e::Installer& app, const wchar_t* name) {
  std::wstring shots = e2e::Env(L"TESSERINE_SCREENSHOT_DIR");
  if (!shots.empty()) {
    EXPECT_TRUE(app.Screenshot(e2e::FromHostPath(shots) + L"\\" + name));
  }
}

}  // namespace

TEST(PagesTour, InstallerWithoutArchiveEndsOnTheFailedPageWithTheSupportButton) {
  auto app = e2e::Installer::Start(e2e::BinPath(L"Tesserine.exe"));
  ASSERT_TRUE(app && app->WaitForDialog());
  EXPECT_EQ(app->Text(1017), L"0.0.0 -> 0.0.0");

  ASSERT_TRUE(app->Click(IDOK));
  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box) << e2e::Utf8(app->Describe());
  EXPECT_EQ(box->caption, L"发生一个错误");
  EXPECT_EQ(box->text, L"缺少文件。");
  EXPECT_EQ(box->icon, e2e::BoxIcon::Error);
  EXPECT_EQ(box->buttons, std::vector<int>{IDOK});
  ASSERT_TRUE(app->Answer(*box, IDOK));

  ASSERT_TRUE(app->WaitForText(IDCANCEL, L"结束"));
  EXPECT_FALSE(app->Visible(IDOK));
  EXPECT_TRUE(app->Visible(1015)) << "outcome 4 offers support";
  EXPECT_FALSE(app->Visible(1013));
  EXPECT_FALSE(app->Visible(1014));
  EXPECT_FALSE(app->Visible(1016));
  EXPECT_FALSE(app->Visible(1000));
  SaveScreenshot(*app, L"failed.bmp");

  ASSERT_TRUE(app->Click(IDCANCEL));
  EXPECT_EQ(app->WaitForExit(), std::optional<DWORD>(2));
}
