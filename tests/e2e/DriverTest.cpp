// The end-to-end driver proven against a fixture dialog program whose controls, texts and misbehaviour are
// known (fixture/Fixture.cpp): everything a scenario relies on (reads, presses, keys, message boxes,
// screenshots, exit codes) and the promise that a hung or crashed program fails the test in bounded time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>

#include "Driver.h"
#include "FixtureIds.h"

using namespace e2e;
using namespace fixture;

namespace {

std::unique_ptr<Installer> StartFixture(const std::wstring& args = L"") {
  std::wstring error;
  auto app = Installer::Start(BinPath(L"e2e_fixture.exe"), args, &error);
  EXPECT_TRUE(app) << Utf8(error);
  return app;
}

// A started fixture whose dialog is showing.
std::unique_ptr<Installer> ShowFixture(const std::wstring& args = L"") {
  auto app = StartFixture(args);
  if (app && !app->WaitForDialog()) {
    ADD_FAILURE() << "the fixture's dialog did not show\n" << Utf8(app->Describe());
    return nullptr;
  }
  return app;
}

class Stopwatch {
 public:
  DWORD Ms() const { return GetTickCount() - start_; }

 private:
  DWORD start_ = GetTickCount();
};

// ---------------------------------------------------------------------------------------------------------
// Reading the dialog

TEST(DriverReads, DialogTitleAndChineseTextsOfStaticsAndButtons) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  EXPECT_EQ(L"驱动测试夹具", app->Title());
  EXPECT_EQ(L"下一步", app->Text(IDOK));
  EXPECT_EQ(L"取消", app->Text(IDCANCEL));
  EXPECT_EQ(L"你好，世界！", app->Text(kGreeting));
  EXPECT_EQ(L"询问…", app->Text(kAsk));
  EXPECT_EQ(L"Button", app->ClassName(IDOK));
  EXPECT_EQ(BS_DEFPUSHBUTTON, app->Style(IDOK) & BS_TYPEMASK);
}

TEST(DriverReads, VisibilityAndEnabledStateOfControls) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  EXPECT_TRUE(app->Visible(kGreeting));
  EXPECT_FALSE(app->Visible(kPageTwo));
  EXPECT_TRUE(app->Exists(kPageTwo));
  EXPECT_TRUE(app->Enabled(kAsk));
  EXPECT_FALSE(app->Enabled(kDisabled));
  EXPECT_TRUE(app->Visible(kDisabled));
}

TEST(DriverReads, MissingControlReadsAsAbsentHiddenAndEmpty) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  EXPECT_FALSE(app->Exists(4242));
  EXPECT_FALSE(app->Visible(4242));
  EXPECT_FALSE(app->Enabled(4242));
  EXPECT_EQ(L"", app->Text(4242));
  EXPECT_EQ(-1, app->ProgressPos(4242));
  EXPECT_EQ(-1, app->ListCount(4242));
  EXPECT_FALSE(app->Click(4242));
}

TEST(DriverReads, ProgressBarPositionAndRange) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  EXPECT_EQ(kProgressPos, app->ProgressPos(kProgress));
  EXPECT_EQ(std::make_pair(0, 100), app->ProgressRange(kProgress));
}

TEST(DriverReads, ListViewRowsFromTheProgramsMemory) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  ASSERT_EQ(3, app->ListCount(kList));
  EXPECT_EQ(L"第一行", app->ListItem(kList, 0));
  EXPECT_EQ(L"第二行：正在更新 zav.exe", app->ListItem(kList, 1));
  EXPECT_EQ(L"third row", app->ListItem(kList, 2));
  EXPECT_EQ(L"", app->ListItem(kList, 3));
  EXPECT_EQ((std::vector<std::wstring>{L"第一行", L"第二行：正在更新 zav.exe", L"third row"}),
            app->ListItems(kList));
}

TEST(DriverReads, RichEditTextDecodedFromCodePage936Rtf) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  std::wstring text = app->RichText(kNotes);
  EXPECT_EQ(0u, text.find(L"更新说明 notes\r")) << Utf8(text);
  EXPECT_NE(std::wstring::npos, text.find(L"second line")) << Utf8(text);
}

TEST(DriverStart, PassesArgumentsAndEnvironmentToTheProgram) {
  StartOptions options;
  options.args = L"path=\"C:\\某 目录\" --flag";
  options.env = {{L"FIXTURE_VALUE", L"值 42"}};
  std::wstring error;
  auto app = Installer::Start(BinPath(L"e2e_fixture.exe"), options, &error);
  ASSERT_TRUE(app) << Utf8(error);
  ASSERT_TRUE(app->WaitForDialog()) << Utf8(app->Describe());
  EXPECT_EQ(L"path=\"C:\\某 目录\" --flag", app->Text(kCommandLine));
  EXPECT_EQ(L"值 42", app->Text(kEnvValue));
}

TEST(DriverStart, MissingProgramIsReportedNotStarted) {
  std::wstring error;
  auto app = Installer::Start(L"C:\\no such folder\\missing.exe", L"", &error);
  EXPECT_FALSE(app);
  EXPECT_NE(std::wstring::npos, error.find(L"missing.exe")) << Utf8(error);
}

// ---------------------------------------------------------------------------------------------------------
// Pressing buttons and keys

TEST(DriverPresses, ClickOnDefaultButtonSwitchesToPageTwo) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));
  EXPECT_TRUE(app->WaitForVisible(kPageTwo)) << Utf8(app->Describe());
  EXPECT_FALSE(app->Visible(IDOK));
}

TEST(DriverPresses, ButtonPressGoesThroughTheButtonItself) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->PressButton(IDOK));
  EXPECT_TRUE(app->WaitForVisible(kPageTwo)) << Utf8(app->Describe());
}

TEST(DriverPresses, HiddenOrDisabledButtonsCannotBeClicked) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  EXPECT_FALSE(app->Click(kDisabled));
  EXPECT_FALSE(app->PressButton(kDisabled));
  EXPECT_FALSE(app->Click(kPageTwo));  // hidden
  ASSERT_TRUE(app->Click(IDOK));
  ASSERT_TRUE(app->WaitForVisible(IDOK, false));
  EXPECT_FALSE(app->Click(IDOK));
}

TEST(DriverPresses, CancelButtonEndsTheProgramWithExitCode2) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDCANCEL));
  EXPECT_EQ(static_cast<DWORD>(kExitCancelled), app->WaitForExit());
}

TEST(DriverPresses, EnterPressesTheDefaultButtonThroughTheDialogKeyboardPath) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->PressEnter());
  EXPECT_TRUE(app->WaitForVisible(kPageTwo)) << Utf8(app->Describe());
  EXPECT_TRUE(app->Running());
}

TEST(DriverPresses, EscapeEndsTheProgramWithExitCode2) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->PressEscape());
  EXPECT_EQ(static_cast<DWORD>(kExitCancelled), app->WaitForExit());
}

TEST(DriverPresses, CloseBoxEndsTheProgramWithExitCode2) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->PressCloseBox());
  EXPECT_EQ(static_cast<DWORD>(kExitCancelled), app->WaitForExit());
}

// ---------------------------------------------------------------------------------------------------------
// Message boxes

struct AnswerCase {
  const char* name;
  int button;
  DWORD exitCode;
};
void PrintTo(const AnswerCase& c, std::ostream* os) {
  *os << c.name;
}

class DriverAnswersQuestion : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(DriverAnswersQuestion, ProgramEndsWithTheCodeOfTheAnswer) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(kAsk));
  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box) << Utf8(app->Describe());
  EXPECT_EQ(L"夹具问题", box->caption);
  EXPECT_EQ(L"要保存更改吗？", box->text);
  EXPECT_EQ((std::vector<int>{IDYES, IDNO, IDCANCEL}), box->buttons);
  EXPECT_EQ(BoxIcon::Question, box->icon) << ToString(box->icon);
  ASSERT_TRUE(app->Answer(*box, GetParam().button));
  EXPECT_EQ(GetParam().exitCode, app->WaitForExit());
}

INSTANTIATE_TEST_SUITE_P(YesNoCancel, DriverAnswersQuestion,
                         ::testing::Values(AnswerCase{"Yes", IDYES, kExitAnswerBase + IDYES},
                                           AnswerCase{"No", IDNO, kExitAnswerBase + IDNO},
                                           AnswerCase{"Cancel", IDCANCEL, kExitAnswerBase + IDCANCEL}),
                         [](const auto& info) { return std::string(info.param.name); });

struct IconCase {
  const char* name;
  int button;
  BoxIcon icon;
  std::vector<int> buttons;
};
void PrintTo(const IconCase& c, std::ostream* os) {
  *os << c.name;
}

class DriverReadsBox : public ::testing::TestWithParam<IconCase> {};

TEST_P(DriverReadsBox, IconAndButtonsAndTheAnswerReachesTheProgram) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(GetParam().button));
  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box) << Utf8(app->Describe());
  EXPECT_EQ(GetParam().icon, box->icon) << ToString(box->icon);
  EXPECT_EQ(GetParam().buttons, box->buttons);
  EXPECT_FALSE(app->Answer(*box, IDYES)) << "a button the box does not have";
  ASSERT_TRUE(app->Answer(*box, box->buttons.back()));
  EXPECT_TRUE(app->WaitForText(kAnswer, L"答复 " + std::to_wstring(box->buttons.back())))
      << Utf8(app->Describe());
  EXPECT_FALSE(app->FindMessageBox());
}

INSTANTIATE_TEST_SUITE_P(Icons, DriverReadsBox,
                         ::testing::Values(IconCase{"Error", kError, BoxIcon::Error, {IDOK}},
                                           IconCase{"Warning", kWarn, BoxIcon::Warning, {IDRETRY, IDCANCEL}},
                                           IconCase{"Information", kInfo, BoxIcon::Information, {IDOK}},
                                           IconCase{"NoIcon", kPlain, BoxIcon::None, {IDOK}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DriverMessageBox, ErrorBoxCaptionAndText) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  EXPECT_FALSE(app->FindMessageBox());
  ASSERT_TRUE(app->Click(kError));
  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(L"发生一个错误", box->caption);
  EXPECT_EQ(L"出错了：找不到文件。", box->text);
}

TEST(DriverMessageBox, DialogUnderAModalBoxCannotBeClickedButStillBeRead) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(kInfo));
  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_FALSE(app->Click(IDCANCEL));
  EXPECT_EQ(L"你好，世界！", app->Text(kGreeting));
  EXPECT_EQ(kProgressPos, app->ProgressPos(kProgress));
  EXPECT_EQ(L"第一行", app->ListItem(kList, 0));
  ASSERT_TRUE(app->Answer(*box, IDOK));
  EXPECT_TRUE(app->Click(IDCANCEL));
  EXPECT_EQ(static_cast<DWORD>(kExitCancelled), app->WaitForExit());
}

TEST(DriverMessageBox, BoxShownBeforeTheDialogIsFoundAndTheDialogAfterIt) {
  auto app = StartFixture(L"--box-first");
  ASSERT_TRUE(app);
  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box) << Utf8(app->Describe());
  EXPECT_EQ(L"先于对话框的消息。", box->text);
  EXPECT_FALSE(app->WaitForDialog(300)) << "a message box is not the main dialog";
  ASSERT_TRUE(app->Answer(*box, IDOK));
  ASSERT_TRUE(app->WaitForDialog()) << Utf8(app->Describe());
  EXPECT_EQ(L"驱动测试夹具", app->Title());
}

TEST(DriverOtherDialog, ModalDialogIsFoundTypedIntoAndConfirmed) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(kFolder));
  EXPECT_FALSE(app->WaitForMessageBox(300)) << "a dialog with an edit field is no message box";
  auto folder = app->WaitForOtherDialog();
  ASSERT_TRUE(folder) << Utf8(app->Describe());
  EXPECT_EQ(L"选择文件夹", folder->Title());
  EXPECT_EQ(L"查找文件夹", folder->Text(0xFFFF));
  ASSERT_TRUE(folder->SetText(kFolderEdit, L"C:\\游戏\\澜星纪"));
  ASSERT_TRUE(folder->Click(IDOK));
  EXPECT_TRUE(app->WaitUntil([&] { return !folder->Showing(); }));
  EXPECT_TRUE(app->WaitForText(kAnswer, L"目录 C:\\游戏\\澜星纪")) << Utf8(app->Describe());
}

TEST(DriverPresses, ActivateBringsADialogBehindAnotherToTheFront) {
  auto first = ShowFixture();
  auto second = ShowFixture();
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(first->Activate());
  EXPECT_EQ(first->Dialog(), GetForegroundWindow());
  ASSERT_TRUE(second->Activate());
  EXPECT_EQ(second->Dialog(), GetForegroundWindow());
}

TEST(DriverOtherDialog, EscapeReachesTheModalDialog) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(kFolder));
  auto folder = app->WaitForOtherDialog();
  ASSERT_TRUE(folder);
  ASSERT_TRUE(folder->PressEscape());
  EXPECT_TRUE(app->WaitForText(kAnswer, L"目录取消")) << Utf8(app->Describe());
  EXPECT_TRUE(app->Running());
}

// ---------------------------------------------------------------------------------------------------------
// Screenshots

TEST(DriverScreenshot, SavesTheDialogAsA24BitBmpOfItsWindowSize) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  TempDir dir;
  ASSERT_TRUE(dir.Ok());
  ASSERT_TRUE(app->Screenshot(dir / L"fixture.bmp"));
  auto bytes = dir.ReadFile(L"fixture.bmp");
  ASSERT_TRUE(bytes);
  ASSERT_GT(bytes->size(), sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER));
  BITMAPFILEHEADER file;
  BITMAPINFOHEADER info;
  std::memcpy(&file, bytes->data(), sizeof(file));
  std::memcpy(&info, bytes->data() + sizeof(file), sizeof(info));
  EXPECT_EQ(0x4D42, file.bfType);
  EXPECT_EQ(bytes->size(), file.bfSize);
  EXPECT_EQ(24, info.biBitCount);
  RECT r;
  ASSERT_TRUE(GetWindowRect(app->Dialog(), &r));
  EXPECT_EQ(r.right - r.left, info.biWidth);
  EXPECT_EQ(r.bottom - r.top, info.biHeight);
  // A painted dialog (frame, caption, controls, text) has many colours; a failed capture is one colour.
  const unsigned char* pixels = reinterpret_cast<const unsigned char*>(bytes->data()) + file.bfOffBits;
  const size_t stride = (static_cast<size_t>(info.biWidth) * 3 + 3) & ~size_t{3};
  std::vector<DWORD> colours;
  for (LONG y = 0; y < info.biHeight; y += 3) {
    for (LONG x = 0; x < info.biWidth; x += 3) {
      const unsigned char* p = pixels + y * stride + x * 3;
      DWORD c = p[0] | (p[1] << 8) | (p[2] << 16);
      if (std::find(colours.begin(), colours.end(), c) == colours.end()) colours.push_back(c);
    }
  }
  EXPECT_GT(colours.size(), 8u);
}

TEST(DriverScreenshot, NoDialogNoScreenshot) {
  auto app = StartFixture(L"--sleep");
  ASSERT_TRUE(app);
  TempDir dir;
  EXPECT_FALSE(app->Screenshot(dir / L"none.bmp"));
  EXPECT_FALSE(dir.Exists(L"none.bmp"));
}

// ---------------------------------------------------------------------------------------------------------
// Exit codes, and programs that misbehave

TEST(DriverExit, ExitCodeOfAProgramThatEndsAtOnce) {
  auto app = StartFixture(L"--exit 7");
  ASSERT_TRUE(app);
  Stopwatch watch;
  EXPECT_FALSE(app->WaitForDialog()) << "there is no dialog to find";
  EXPECT_LT(watch.Ms(), 3000u) << "the wait ends with the process, not at its time-out";
  EXPECT_EQ(7u, app->WaitForExit());
  EXPECT_EQ(7u, app->ExitCode());
}

TEST(DriverExit, WaitForADialogThatNeverComesIsBounded) {
  auto app = StartFixture(L"--sleep");
  ASSERT_TRUE(app);
  Stopwatch watch;
  EXPECT_FALSE(app->WaitForDialog(800));
  EXPECT_GE(watch.Ms(), 700u);
  EXPECT_LT(watch.Ms(), 3000u);
  EXPECT_FALSE(app->WaitForMessageBox(200));
  EXPECT_TRUE(app->Running());
}

TEST(DriverExit, HungProgramIsTerminatedAndTheWaitFails) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(kHang));
  Stopwatch watch;
  EXPECT_FALSE(app->WaitForExit(1000));
  EXPECT_LT(watch.Ms(), 7000u);
  EXPECT_FALSE(app->Running());
  EXPECT_EQ(0xDEADu, app->ExitCode());
}

TEST(DriverExit, ReadingAHungProgramReturnsInBoundedTime) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(kHang));
  Sleep(300);  // the dialog's thread is now inside its endless sleep
  Stopwatch watch;
  std::wstring text = app->Text(kGreeting);
  EXPECT_LT(watch.Ms(), 5000u);
  // The text the window manager keeps for the static is still there.
  EXPECT_EQ(L"你好，世界！", text);
  EXPECT_FALSE(app->WaitForMessageBox(200));
}

TEST(DriverExit, CrashedProgramEndsWithTheAccessViolationCode) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(kCrash));
  Stopwatch watch;
  auto code = app->WaitForExit();
  ASSERT_TRUE(code) << "a crash must end the process, not open a dialog";
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), *code);
  EXPECT_LT(watch.Ms(), 10000u);
}

TEST(DriverExit, DestroyingTheInstallerTerminatesARunningProgram) {
  auto app = ShowFixture();
  ASSERT_TRUE(app);
  HANDLE process = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), app->Process(), GetCurrentProcess(), &process, SYNCHRONIZE,
                              FALSE, 0));
  app.reset();
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 0));
  CloseHandle(process);
}

TEST(DriverExit, ProgramsEndWhenTheTestProgramItselfDies) {
  // The death test runs this body again in a child test process; the file name reaches it through the
  // environment, which the child inherits.
  const wchar_t kVariable[] = L"E2E_DEATH_PID_FILE";
  std::wstring pidFile = Env(kVariable);
  if (pidFile.empty()) {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    pidFile = std::wstring(temp) + L"e2e-death-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    DeleteFileW(pidFile.c_str());
    SetEnvironmentVariableW(kVariable, pidFile.c_str());
  }
  // The child starts the fixture, records its id and dies without running any destructor.
  EXPECT_EXIT(
      {
        auto app = Installer::Start(BinPath(L"e2e_fixture.exe"));
        if (app && app->WaitForDialog()) {
          std::string pid = std::to_string(app->ProcessId());
          HANDLE f = CreateFileW(pidFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
          DWORD written = 0;
          WriteFile(f, pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
          CloseHandle(f);
        }
        TerminateProcess(GetCurrentProcess(), 3);
      },
      ::testing::ExitedWithCode(3), "");
  SetEnvironmentVariableW(kVariable, nullptr);
  std::string pid;
  HANDLE f = CreateFileW(pidFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, f) << "the child did not start the fixture";
  char buffer[32] = {};
  DWORD got = 0;
  ReadFile(f, buffer, sizeof(buffer) - 1, &got, nullptr);
  CloseHandle(f);
  DeleteFileW(pidFile.c_str());
  ASSERT_GT(got, 0u);
  HANDLE process =
      OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, static_cast<DWORD>(std::stoul(buffer)));
  if (process) {  // else the id is gone already
    if (WaitForSingleObject(process, 5000) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "the fixture outlived its test";
      TerminateProcess(process, 1);
    }
    CloseHandle(process);
  }
}

// ---------------------------------------------------------------------------------------------------------
// Helpers

TEST(DriverHelpers, TempDirHoldsWrittenFilesAndIsRemovedWithThem) {
  std::wstring path;
  {
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    path = dir.Path();
    ASSERT_TRUE(dir.WriteFile(L"client\\bin\\zav.exe", "MZ"));
    ASSERT_TRUE(dir.WriteFile(L"common.ini", "build=4526\r\n"));
    EXPECT_TRUE(dir.Exists(L"client\\bin\\zav.exe"));
    EXPECT_EQ(std::string("build=4526\r\n"), dir.ReadFile(L"common.ini"));
    EXPECT_FALSE(dir.ReadFile(L"missing.ini"));
  }
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
}

TEST(DriverHelpers, HostPathsBecomeDriveZPaths) {
  EXPECT_EQ(L"Z:\\work\\main\\out", FromHostPath(L"/work/main/out"));
  EXPECT_EQ(L"C:\\x\\y", FromHostPath(L"C:/x/y"));
  EXPECT_EQ(L"out\\shots", FromHostPath(L"out/shots"));
}

TEST(DriverHelpers, BinDirHoldsTheFixture) {
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(BinPath(L"e2e_fixture.exe").c_str()))
      << Utf8(BinDir());
}

}  // namespace
