// Pages and outcomes of the real main dialog, reached through the flow's endings or a run over its fake.
#include "DialogFixture.h"
#include "win/ClientProbes.h"

namespace {

const int kResultButtons[] = {IDC_GET_CLIENT, IDC_GET_PATCH, IDC_SUPPORT, IDC_LAUNCH};

}  // namespace

TEST_F(DialogTest, WelcomePageWithoutArchiveShowsZeroVersionsAndTheEmptyFrame) {
  EXPECT_EQ(mDlg->Run().Page(), PageWelcome);
  EXPECT_EQ(Text(IDOK), L"开始更新");
  EXPECT_EQ(Text(IDCANCEL), L"取消");
  EXPECT_EQ(mDlg->Title(), L"欢迎使用《澜星纪》更新向导");
  EXPECT_EQ(Text(IDC_VERSIONS), L"0.0.0 -> 0.0.0");
  EXPECT_EQ(Caption(), L"《澜星纪》更新 0.0.0-0.0.0");
  EXPECT_TRUE(Visible(IDC_NOTES_FRAME));
  EXPECT_FALSE(mDlg->HasNotesView()) << "no notes entry, no view";
  for (int id : {IDC_FILE_PROGRESS, IDC_TOTAL_PROGRESS, IDC_DETAILS_LIST, IDC_DETAILS, IDC_GET_CLIENT,
                 IDC_GET_PATCH, IDC_SUPPORT, IDC_LAUNCH}) {
    EXPECT_FALSE(Visible(id)) << id;
  }
  EXPECT_TRUE(Visible(IDOK));
}

TEST_F(DialogTest, InitialisationSetsTheDetailsListUp) {
  HWND list = ::GetDlgItem(mDlg->m_hWnd, IDC_DETAILS_LIST);
  EXPECT_EQ(::SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0x4020);
  RECT client{};
  ::GetClientRect(list, &client);
  // One column as wide as the list, less room for its vertical scroll bar: no horizontal one.
  const int width = static_cast<int>(::SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
  EXPECT_LE(width + ::GetSystemMetrics(SM_CXVSCROLL), client.right);
  EXPECT_GE(width, client.right * 3 / 4);
  EXPECT_EQ(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 0);
  EXPECT_NE(::SendMessageW(mDlg->m_hWnd, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(::SendMessageW(mDlg->m_hWnd, WM_GETICON, ICON_SMALL, 0), 0);
}

struct OutcomeCase {
  uint32_t outcome;
  const wchar_t* hint;
  int button;  // 0: none
};

class FailedPageTest : public DialogTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(FailedPageTest, ShowsTheOutcomesHintAndItsOneButton) {
  const OutcomeCase& c = GetParam();
  mDlg->EndRun(Ending::Failed().WithOutcome(c.outcome).WithMessage(L"出错了"));
  Pump();
  EXPECT_EQ(mDlg->Run().Page(), PageFailed);
  EXPECT_EQ(mDlg->Title(), L"发生错误，无法进行更新。");
  EXPECT_EQ(Text(IDCANCEL), L"结束");
  EXPECT_EQ(mDlg->Run().Hint(), c.hint);
  for (int id : kResultButtons) EXPECT_EQ(Visible(id), id == c.button) << "button " << id;
  EXPECT_FALSE(Visible(IDC_NOTES_FRAME));
  EXPECT_EQ(mDlg->Run().Message(), L"出错了") << "the failed page keeps the cause's message";
}

INSTANTIATE_TEST_SUITE_P(
    EveryOutcome, FailedPageTest,
    ::testing::Values(
        OutcomeCase{OutcomeNone, L"", 0},
        OutcomeCase{OutcomeReinstallClient, L"点击下面的按钮重新下载ZAV的客户端。", IDC_GET_CLIENT},
        OutcomeCase{2, L"", 0}, OutcomeCase{OutcomeNewPatch, L"点击下面的按钮下载补丁。", IDC_GET_PATCH},
        OutcomeCase{OutcomeSupport,
                    L"请尝试重启计算机并重新安装补丁，如果仍然发生错误，点击下面的按钮打开官方支持网站。",
                    IDC_SUPPORT},
        OutcomeCase{OutcomeRestart, L"建议您重启计算机并重新运行更新补丁。", 0}, OutcomeCase{77, L"", 0}),
    [](const ::testing::TestParamInfo<OutcomeCase>& info) {
      return "Outcome" + std::to_string(info.param.outcome);
    });

TEST_F(DialogTest, FailedPageAfterAnotherOutcomeDropsTheOldHintAndButton) {
  mDlg->EndRun(Ending::Failed().WithOutcome(OutcomeNewPatch));
  mDlg->EndRun(Ending::Failed().WithOutcome(OutcomeNone));
  EXPECT_EQ(mDlg->Run().Hint(), L"");
  for (int id : kResultButtons) EXPECT_FALSE(Visible(id));
}

TEST_F(DialogTest, FinishedPageOffersTheLaunchButtonWithoutARestartPrompt) {
  mDlg->SetPage(PageFinished);
  Pump();
  EXPECT_EQ(mDlg->Title(), L"补丁已经安装过了!");
  EXPECT_EQ(mDlg->Run().Message(), L"补丁安装成功，您现在可以进入ZAV-ONLINE的游戏世界了。\n祝您游戏愉快!");
  EXPECT_EQ(Text(IDCANCEL), L"结束");
  EXPECT_FALSE(Visible(IDOK));
  for (int id : kResultButtons) EXPECT_EQ(Visible(id), id == IDC_LAUNCH);
}

TEST_F(DialogTest, RestartPromptAfterALockedFileStaysOnTheFinishedPage) {
  for (int answer : {IDYES, IDNO}) {
    mMachine.script = {{6, "", 1, true}, {7, "a"}, {26, ""}};
    BoxAnswerer answerer(answer);
    RunEngine();
    AnsweredBox box = answerer.Wait();
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.caption, L"《澜星纪》更新");
    EXPECT_EQ(
        box.text,
        L"安装已经结束但是有部分文件被锁定。\n您需要重新启动您的计算机以应用所有的更新。\n\n您希望现在重"
        L"启计算机么?");
    EXPECT_EQ(mMachine.restarts, 1) << "Yes (the first answer) restarts, No does not";
    EXPECT_EQ(mDlg->Run().Page(), PageFinished);
    EXPECT_TRUE(mDlg->IsWindow());
    EXPECT_TRUE(Visible(IDC_LAUNCH));
  }
}

TEST_F(DialogTest, PagesOutsideTheWizardOnlyResetTheControls) {
  mDlg->SetPage(PageFailed);
  ::SetDlgItemTextW(mDlg->m_hWnd, IDC_FILE_STATUS, L"旧的状态");
  mDlg->SetPage(9);
  EXPECT_EQ(mDlg->Run().Page(), 9);
  EXPECT_EQ(Text(IDC_FILE_STATUS), L"");
  EXPECT_EQ(mDlg->Title(), L"发生错误，无法进行更新。") << "the heading stays";
  EXPECT_FALSE(Visible(IDC_NOTES_FRAME));
}

TEST_F(DialogTest, DetailsReplacesTheFileBarByTheListUntilThePageChanges) {
  ::ShowWindow(::GetDlgItem(mDlg->m_hWnd, IDC_DETAILS), SW_SHOW);
  ::ShowWindow(::GetDlgItem(mDlg->m_hWnd, IDC_FILE_PROGRESS), SW_SHOW);
  ::SendMessageW(mDlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_DETAILS, BN_CLICKED), 0);
  EXPECT_FALSE(Visible(IDC_DETAILS));
  EXPECT_FALSE(Visible(IDC_FILE_PROGRESS));
  EXPECT_TRUE(Visible(IDC_DETAILS_LIST));
  mDlg->SetPage(PageFailed);
  EXPECT_FALSE(Visible(IDC_DETAILS_LIST));
}

TEST_F(DialogTest, TimerTicksBeforeExtractionEndsOrOfOtherTimersChangeNothing) {
  Open(FakePorts());
  ::SendMessageW(mDlg->m_hWnd, WM_TIMER, kExtractTimerId, 0);
  mDlg->SetCommandLine(L"path=C:\\Games\\ZAV");
  mDlg->OnOK(BN_CLICKED, IDOK, nullptr);  // the fake machine's extraction is done at once
  ::SendMessageW(mDlg->m_hWnd, WM_TIMER, 7, 0);
  EXPECT_TRUE(mMachine.commandLine.empty()) << "only timer 100 looks";
  ::SendMessageW(mDlg->m_hWnd, WM_TIMER, kExtractTimerId, 0);
  EXPECT_FALSE(mMachine.commandLine.empty());
}

TEST_F(DialogTest, FirstTickAfterExtractionStartsExactlyOneRun) {
  Open(FakePorts());
  mMachine.loadable = false;
  mDlg->SetCommandLine(L"path=C:\\Games\\ZAV");
  mDlg->OnOK(BN_CLICKED, IDOK, nullptr);
  BoxAnswerer answer(IDOK);
  ::SendMessageW(mDlg->m_hWnd, WM_TIMER, kExtractTimerId, 0);
  AnsweredBox box = answer.Wait();
  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.text, L"无法加载需要的文件:patchw32.dll");
  EXPECT_EQ(mDlg->Run().Page(), PageFailed);
  EXPECT_EQ(mDlg->Run().OutcomeCode(), static_cast<uint32_t>(OutcomeSupport));
  EXPECT_EQ(mDlg->Run().ReportDetail(), mDlg->Run().Message());

  BoxAnswerer none(IDOK, 500);
  ::SendMessageW(mDlg->m_hWnd, WM_TIMER, kExtractTimerId, 0);
  EXPECT_FALSE(none.Wait().found) << "the extraction was taken: no second run";
}

TEST_F(DialogTest, ClosingStopsTheExtractionThreadBeforeTheWindowGoes) {
  std::atomic<bool> sawWindowGone{false};
  mMachine.entries[0].second.assign(8092 * 2000, 'E');  // seconds of writing, one chunk a millisecond
  mMachine.onWrite = [&] {
    if (!mDlg->IsWindow()) sawWindowGone = true;
    ::Sleep(1);
  };
  Open(RunPorts{mWin.texts, mMachine, mMachine, mMachine, mMachine, mMachine, mWin.thread});
  mDlg->SetCommandLine(L"path=C:\\Games\\ZAV");
  mDlg->OnOK(BN_CLICKED, IDOK, nullptr);
  ::Sleep(50);
  mDlg->CloseDialog(IDCANCEL);
  EXPECT_FALSE(sawWindowGone);
}

TEST_F(DialogTest, ClosingDestroysTheIconsLoadedAtStartUp) {
  HICON icons[] = {reinterpret_cast<HICON>(::SendMessageW(mDlg->m_hWnd, WM_GETICON, ICON_BIG, 0)),
                   reinterpret_cast<HICON>(::SendMessageW(mDlg->m_hWnd, WM_GETICON, ICON_SMALL, 0))};
  mDlg->CloseDialog(IDCANCEL);
  for (HICON icon : icons) {
    ICONINFO info{};
    EXPECT_FALSE(::GetIconInfo(icon, &info));
  }
}

TEST_F(DialogTest, ABannerThatCannotBeLoadedIsNotLookedForAgainOnEveryPaint) {
  CMainDlg second(mWin.Ports());
  ASSERT_NE(second.Create(nullptr, 0), nullptr);
  theModule.Init(::GetModuleHandleW(L"kernel32.dll"));  // a module without the banner
  second.ShowWindow(SW_SHOW);
  for (int paint = 0; paint < 2; ++paint) {
    second.Invalidate();
    ::UpdateWindow(second.m_hWnd);
  }
  theModule.Init(::GetModuleHandleW(nullptr));
  EXPECT_EQ(second.Banner().DC(), nullptr) << "no memory DC for a banner that is not there";
}

unsigned long __stdcall NoShortNames(const wchar_t*, wchar_t*, unsigned long) {
  return 0;
}

TEST_F(DialogTest, AClientFolderWithoutAWritableShortNameIsRefusedBeforeTheEngineRuns) {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder =
      std::wstring(temp) + L"\u0e01\u0e02\u0e04-" + std::to_wstring(::GetCurrentProcessId());
  // The machine's own probes (a client folder of files, and short names on a volume that keeps none).
  Open(RunPorts{mWin.texts, mWin.probes, mMachine, mMachine, mMachine, mMachine, mMachine});
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  for (const wchar_t* file : {L"\\zav.exe", L"\\common.ini"}) {
    CHandle created(
        ::CreateFileW((folder + file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    const char build[] = "build=4526\r\n";
    DWORD written = 0;
    ::WriteFile(created.Get(), build, sizeof(build) - 1, &written, nullptr);
  }
  const ShortPathLookup previous = SetShortPathLookup(NoShortNames);
  mDlg->SetCommandLine(L"path=\"" + folder + L"\"");
  mDlg->OnOK(BN_CLICKED, IDOK, nullptr);
  BoxAnswerer answer(IDOK);
  ::SendMessageW(mDlg->m_hWnd, WM_TIMER, kExtractTimerId, 0);
  const AnsweredBox box = answer.Wait();
  SetShortPathLookup(previous);
  for (const wchar_t* file : {L"\\zav.exe", L"\\common.ini"}) ::DeleteFileW((folder + file).c_str());
  ::RemoveDirectoryW(folder.c_str());
  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.text, L"补丁程序无法使用以下路径：\n" + folder +
                          L"\n\n请将客户端安装到只包含英文字母和数字的路径下，然后重新运行补丁程序。");
  EXPECT_EQ(mDlg->Run().Page(), PageFailed);
  EXPECT_EQ(mDlg->Run().OutcomeCode(), static_cast<uint32_t>(OutcomeSupport));
  EXPECT_EQ(mDlg->Run().ReportDetail(), L"Path not usable by the engine");
  EXPECT_TRUE(Visible(IDC_SUPPORT));
}
