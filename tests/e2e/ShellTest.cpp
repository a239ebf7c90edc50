// The installer driven from outside, as a user meets it: the welcome page with the template's controls and
// texts, the three ways of leaving it (Cancel, Escape, the close box) and the start button that leads to
// the installing page. The program runs as built, without an archive appended.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Driver.h"

using namespace e2e;

namespace {

constexpr int kStart = IDOK;
constexpr int kCancel = IDCANCEL;
constexpr int kFileProgress = 1000;
constexpr int kTotalProgress = 1002;
constexpr int kFileStatus = 1008;
constexpr int kPhaseStatus = 1009;
constexpr int kDetailsList = 1010;
constexpr int kDetails = 1012;
constexpr int kDownloadClient = 1013;
constexpr int kDownloadPatch = 1014;
constexpr int kSupport = 1015;
constexpr int kLaunchClient = 1016;
constexpr int kVersions = 1017;
constexpr int kNotesFrame = 1018;
constexpr DWORD kCancelled = 2;

std::unique_ptr<Installer> StartInstaller() {
  std::wstring error;
  auto app = Installer::Start(BinPath(L"Tesserine.exe"), L"", &error);
  EXPECT_TRUE(app) << Utf8(error);
  return app;
}

// The installer started and showing its welcome page.
std::unique_ptr<Installer> OpenWelcomePage() {
  auto app = StartInstaller();
  if (app && !app->WaitForDialog()) {
    ADD_FAILURE() << "the installer's dialog did not show\n" << Utf8(app->Describe());
    return nullptr;
  }
  return app;
}

TEST(WelcomePage, ShowsTheTemplatesControlsWithTheirTexts) {
  auto app = OpenWelcomePage();
  ASSERT_TRUE(app);
  EXPECT_EQ(L"开始更新", app->Text(kStart));
  EXPECT_EQ(L"取消", app->Text(kCancel));
  EXPECT_EQ(L"详细信息…", app->Text(kDetails));
  EXPECT_EQ(L"下载完整客户端", app->Text(kDownloadClient));
  EXPECT_EQ(L"新补丁下载", app->Text(kDownloadPatch));
  EXPECT_EQ(L"联系支持", app->Text(kSupport));
  EXPECT_EQ(L"启动《澜星纪》;", app->Text(kLaunchClient));
  EXPECT_EQ(L"msctls_progress32", app->ClassName(kFileProgress));
  EXPECT_EQ(L"msctls_progress32", app->ClassName(kTotalProgress));
  EXPECT_EQ(L"SysListView32", app->ClassName(kDetailsList));
  for (int id : {kFileStatus, kPhaseStatus, kVersions, kNotesFrame}) {
    EXPECT_EQ(L"Static", app->ClassName(id)) << "control " << id;
  }
  EXPECT_EQ(0u, app->Title().find(L"《澜星纪》更新 ")) << Utf8(app->Title());
  EXPECT_NE(std::wstring::npos, app->Text(kVersions).find(L" -> ")) << Utf8(app->Text(kVersions));
}

TEST(WelcomePage, HidesProgressDetailsAndResultButtonsAndShowsTheNotesFrame) {
  auto app = OpenWelcomePage();
  ASSERT_TRUE(app);
  for (int id : {kFileProgress, kTotalProgress, kDetailsList, kDetails, kDownloadClient, kDownloadPatch,
                 kSupport, kLaunchClient}) {
    EXPECT_FALSE(app->Visible(id)) << "control " << id << "\n" << Utf8(app->Describe());
  }
  EXPECT_TRUE(app->Visible(kNotesFrame));
  EXPECT_TRUE(app->Visible(kStart));
  EXPECT_TRUE(app->Visible(kCancel));
  EXPECT_EQ(L"", app->Text(kFileStatus));
  EXPECT_EQ(L"", app->Text(kPhaseStatus));
}

TEST(WelcomePage, CancelButtonEndsTheProgramWithExitCode2) {
  auto app = OpenWelcomePage();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(kCancel));
  EXPECT_EQ(kCancelled, app->WaitForExit()) << Utf8(app->Describe());
}

TEST(WelcomePage, EscapeEndsTheProgramWithExitCode2) {
  auto app = OpenWelcomePage();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->PressEscape());
  EXPECT_EQ(kCancelled, app->WaitForExit()) << Utf8(app->Describe());
}

TEST(WelcomePage, CloseBoxEndsTheProgramWithExitCode2) {
  auto app = OpenWelcomePage();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->PressCloseBox());
  EXPECT_EQ(kCancelled, app->WaitForExit()) << Utf8(app->Describe());
}

// After the start button the installing page shows: the start button hidden, both progress bars and the
// Details button shown. Without an appended archive the start sequence then stops on "缺少文件。" in a
// message box; the installing page stays on screen under it until it is answered.
void ExpectInstallingPageAndLeave(Installer& app) {
  EXPECT_TRUE(app.WaitUntil([&] {
    return !app.Visible(kStart) && app.Visible(kFileProgress) && app.Visible(kTotalProgress) &&
           app.Visible(kDetails);
  })) << Utf8(app.Describe());
  EXPECT_EQ(L"取消", app.Text(kCancel));
  EXPECT_FALSE(app.Visible(kNotesFrame));
  EXPECT_FALSE(app.Visible(kDetailsList));

  if (auto box = app.WaitForMessageBox(1500)) {
    EXPECT_EQ(L"缺少文件。", box->text);
    ASSERT_TRUE(app.Answer(*box, box->Has(IDOK) ? IDOK : box->buttons.front())) << Utf8(app.Describe());
  }
  // No engine runs, so Cancel (whatever it reads now) closes the program.
  ASSERT_TRUE(app.Click(kCancel)) << Utf8(app.Describe());
  EXPECT_EQ(kCancelled, app.WaitForExit()) << Utf8(app.Describe());
}

TEST(WelcomePage, StartButtonSwitchesToTheInstallingPage) {
  auto app = OpenWelcomePage();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(kStart));
  ExpectInstallingPageAndLeave(*app);
}

TEST(WelcomePage, EnterPressesTheStartButton) {
  auto app = OpenWelcomePage();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->PressEnter());
  ExpectInstallingPageAndLeave(*app);
}

// Saves the welcome page to $TESSERINE_SCREENSHOT_DIR/welcome.bmp when that is set (a Linux or Windows
// path), else to a temporary folder; either way the file must be a picture of the dialog.
TEST(WelcomePage, Screenshot) {
  auto app = OpenWelcomePage();
  ASSERT_TRUE(app);
  TempDir temp;
  std::wstring dir = Env(L"TESSERINE_SCREENSHOT_DIR");
  dir = dir.empty() ? temp.Path() : FromHostPath(dir);
  CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring path = dir + L"\\welcome.bmp";
  ASSERT_TRUE(app->Screenshot(path)) << Utf8(path);

  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file) << Utf8(path);
  BITMAPFILEHEADER header = {};
  BITMAPINFOHEADER info = {};
  DWORD got = 0;
  ReadFile(file, &header, sizeof(header), &got, nullptr);
  ReadFile(file, &info, sizeof(info), &got, nullptr);
  DWORD size = GetFileSize(file, nullptr);
  CloseHandle(file);
  RECT r;
  ASSERT_TRUE(GetWindowRect(app->Dialog(), &r));
  EXPECT_EQ(0x4D42, header.bfType);
  EXPECT_EQ(size, header.bfSize);
  EXPECT_EQ(r.right - r.left, info.biWidth);
  EXPECT_EQ(r.bottom - r.top, info.biHeight);
  EXPECT_EQ(24, info.biBitCount);
}

}  // namespace
