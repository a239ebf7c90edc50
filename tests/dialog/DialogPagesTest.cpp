// Pages and outcomes of the real main dialog, driven in-process: the program takes no input that
// reaches every outcome yet, so the page switch is called as the run would call it.
#include "DialogFixture.h"
#include "win/ClientProbes.h"
#include "win/Restart.h"

namespace {

const int kResultButtons[] = {IDC_GET_CLIENT, IDC_GET_PATCH, IDC_SUPPORT, IDC_LAUNCH};

int gRestartRequests = 0;
BOOL CountRestart() {
  ++gRestartRequests;
  return TRUE;
}

}  // namespace

TEST_F(DialogTest, WelcomePageWithoutArchiveShowsZeroVersionsAndTheEmptyFrame) {
  EXPECT_EQ(mDlg->mRun.mPage, PageWelcome);
  EXPECT_EQ(Text(IDOK), L"开始更新");
  EXPECT_EQ(Text(IDCANCEL), L"取消");
  EXPECT_EQ(mDlg->mTitle, L"欢迎使用《澜星纪》更新向导");
  EXPECT_EQ(Text(IDC_VERSIONS), L"0.0.0 -> 0.0.0");
  EXPECT_EQ(Caption(), L"《澜星纪》更新 0.0.0-0.0.0");
  EXPECT_TRUE(Visible(IDC_NOTES_FRAME));
  EXPECT_FALSE(mDlg->mNotesView.IsWindow()) << "no notes entry, no view";
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
  EXPECT_EQ(::SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0), client.right - 20);
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
  mDlg->mRun.mOutcome = c.outcome;
  mDlg->mRun.mMessage = L"出错了";
  mDlg->SetPage(PageFailed);
  Pump();
  EXPECT_EQ(mDlg->mRun.mPage, PageFailed);
  EXPECT_EQ(mDlg->mTitle, L"发生错误，无法进行更新。");
  EXPECT_EQ(Text(IDCANCEL), L"结束");
  EXPECT_EQ(mDlg->mRun.mHint, c.hint);
  for (int id : kResultButtons) EXPECT_EQ(Visible(id), id == c.button) << "button " << id;
  EXPECT_FALSE(Visible(IDC_NOTES_FRAME));
  EXPECT_EQ(mDlg->mRun.mMessage, L"出错了") << "the failed page keeps the cause's message";
}

INSTANTIATE_TEST_SUITE_P(
    EveryOutcome, FailedPageTest,
    ::testing::Values(
        OutcomeCase{0, L"", 0}, OutcomeCase{1, L"点击下面的按钮重新下载ZAV的客户端。", IDC_GET_CLIENT},
        OutcomeCase{2, L"", 0}, OutcomeCase{3, L"点击下面的按钮下载补丁。", IDC_GET_PATCH},
        OutcomeCase{4, L"请尝试重启计算机并重新安装补丁，如果仍然发生错误，点击下面的按钮打开官方支持网站。",
                    IDC_SUPPORT},
        OutcomeCase{5, L"建议您重启计算机并重新运行更新补丁。", 0}, OutcomeCase{77, L"", 0}),
    [](const ::testing::TestParamInfo<OutcomeCase>& info) {
      return "Outcome" + std::to_string(info.param.outcome);
    });

TEST_F(DialogTest, FailedPageAfterAnotherOutcomeDropsTheOldHintAndButton) {
  mDlg->mRun.mOutcome = OutcomeNewPatch;
  mDlg->SetPage(PageFailed);
  mDlg->mRun.mOutcome = OutcomeNone;
  mDlg->SetPage(PageFailed);
  EXPECT_EQ(mDlg->mRun.mHint, L"");
  for (int id : kResultButtons) EXPECT_FALSE(Visible(id));
}

TEST_F(DialogTest, FinishedPageOffersTheLaunchButtonWithoutARestartPrompt) {
  mDlg->SetPage(PageFinished);
  Pump();
  EXPECT_EQ(mDlg->mTitle, L"补丁已经安装过了!");
  EXPECT_EQ(mDlg->mRun.mMessage, L"补丁安装成功，您现在可以进入ZAV-ONLINE的游戏世界了。\n祝您游戏愉快!");
  EXPECT_EQ(Text(IDCANCEL), L"结束");
  EXPECT_FALSE(Visible(IDOK));
  for (int id : kResultButtons) EXPECT_EQ(Visible(id), id == IDC_LAUNCH);
}

TEST_F(DialogTest, RestartPromptYesRequestsTheRestartAndStaysOnTheFinishedPage) {
  RestartRequest previous = SetRestartRequest(CountRestart);
  gRestartRequests = 0;
  mDlg->mRun.mRestartNeeded = true;
  BoxAnswerer answer(IDYES);
  mDlg->SetPage(PageFinished);
  AnsweredBox box = answer.Wait();
  SetRestartRequest(previous);

  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.caption, L"《澜星纪》更新");
  EXPECT_EQ(box.text,
            L"安装已经结束但是有部分文件被锁定。\n您需要重新启动您的计算机以应用所有的更新。\n\n您希望现在重"
            L"启计算机么?");
  EXPECT_EQ(gRestartRequests, 1);
  EXPECT_EQ(mDlg->mRun.mPage, PageFinished);
  EXPECT_TRUE(mDlg->IsWindow());
  EXPECT_TRUE(Visible(IDC_LAUNCH));
}

TEST_F(DialogTest, RestartPromptNoLeavesThePageAsItIs) {
  RestartRequest previous = SetRestartRequest(CountRestart);
  gRestartRequests = 0;
  mDlg->mRun.mRestartNeeded = true;
  BoxAnswerer answer(IDNO);
  mDlg->SetPage(PageFinished);
  AnsweredBox box = answer.Wait();
  SetRestartRequest(previous);

  ASSERT_TRUE(box.found);
  EXPECT_EQ(gRestartRequests, 0);
  EXPECT_EQ(mDlg->mRun.mPage, PageFinished);
  EXPECT_TRUE(Visible(IDC_LAUNCH));
}

TEST_F(DialogTest, PagesOutsideTheWizardOnlyResetTheControls) {
  mDlg->SetPage(PageFailed);
  ::SetDlgItemTextW(mDlg->m_hWnd, IDC_FILE_STATUS, L"旧的状态");
  mDlg->SetPage(9);
  EXPECT_EQ(mDlg->mRun.mPage, 9);
  EXPECT_EQ(Text(IDC_FILE_STATUS), L"");
  EXPECT_EQ(mDlg->mTitle, L"发生错误，无法进行更新。") << "the heading stays";
  EXPECT_FALSE(Visible(IDC_NOTES_FRAME));
}

TEST_F(DialogTest, DetailsReplacesTheFileBarByTheListUntilThePageChanges) {
  mDlg->mRun.mOutcome = OutcomeNone;
  ::ShowWindow(::GetDlgItem(mDlg->m_hWnd, IDC_DETAILS), SW_SHOW);
  ::ShowWindow(::GetDlgItem(mDlg->m_hWnd, IDC_FILE_PROGRESS), SW_SHOW);
  ::SendMessageW(mDlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_DETAILS, BN_CLICKED), 0);
  EXPECT_FALSE(Visible(IDC_DETAILS));
  EXPECT_FALSE(Visible(IDC_FILE_PROGRESS));
  EXPECT_TRUE(Visible(IDC_DETAILS_LIST));
  mDlg->SetPage(PageFailed);
  EXPECT_FALSE(Visible(IDC_DETAILS_LIST));
}

TEST_F(DialogTest, CancelDuringAnEngineRunSetsTheEventAndShowsTheCancelledPage) {
  mDlg->mRun.mCancelEvent.Create();
  mDlg->mRun.mOutcome = OutcomeNone;
  ::SendMessageW(mDlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_TRUE(mDlg->IsWindow());
  EXPECT_TRUE(mDlg->mRun.mCancelEvent.Take());
  EXPECT_EQ(mDlg->mRun.mPage, PageFailed);
  EXPECT_EQ(mDlg->mRun.mMessage, L"您已经取消了安装，您将无法进行游戏除非您完成补丁的安装。");
  for (int id : kResultButtons) EXPECT_FALSE(Visible(id));
}

TEST_F(DialogTest, CancelByAnotherHandlerDuringARunKeepsTheCausesMessage) {
  mDlg->mRun.mCancelEvent.Create();
  mDlg->mRun.mMessage = L"引擎错误";
  mDlg->OnCancel(0, 0, nullptr);
  EXPECT_EQ(mDlg->mRun.mMessage, L"引擎错误");
  EXPECT_EQ(mDlg->mRun.mPage, PageFailed);
}

TEST_F(DialogTest, TimerTicksBeforeExtractionEndsOrOfOtherTimersChangeNothing) {
  ::SendMessageW(mDlg->m_hWnd, WM_TIMER, kExtractTimerId, 0);
  ::SendMessageW(mDlg->m_hWnd, WM_TIMER, 7, 0);
  mDlg->mRun.mExtractDone = true;
  ::SendMessageW(mDlg->m_hWnd, WM_TIMER, 7, 0);
  EXPECT_EQ(mDlg->mRun.mPage, PageWelcome);
  EXPECT_TRUE(mDlg->mRun.mExtractDone) << "only timer 100 looks";
}

TEST_F(DialogTest, FirstTickAfterExtractionStartsExactlyOneRun) {
  mDlg->mRun.mExtractDone = true;
  mDlg->mRun.mDllPath = L"C:\\nowhere\\patchw32.dll";  // a library that cannot be loaded
  BoxAnswerer answer(IDOK);
  ::SendMessageW(mDlg->m_hWnd, WM_TIMER, kExtractTimerId, 0);
  AnsweredBox box = answer.Wait();
  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.text, L"无法加载需要的文件:patchw32.dll");
  EXPECT_EQ(mDlg->mRun.mPage, PageFailed);
  EXPECT_EQ(mDlg->mRun.mOutcome, static_cast<uint32_t>(OutcomeSupport));
  EXPECT_EQ(mDlg->mRun.mReportDetail, mDlg->mRun.mMessage);

  BoxAnswerer none(IDOK, 500);
  ::SendMessageW(mDlg->m_hWnd, WM_TIMER, kExtractTimerId, 0);
  EXPECT_FALSE(none.Wait().found) << "the event was consumed: no second run";
}

TEST_F(DialogTest, ClosingStopsTheExtractionThreadBeforeTheWindowGoes) {
  struct Watch {
    CMainDlg* dlg;
    std::atomic<bool> sawWindowGone{false};
  } watch{mDlg.get()};
  ASSERT_TRUE(mDlg->mThread.Start(
      [](void* argument) {
        Watch* w = static_cast<Watch*>(argument);
        while (!w->dlg->mRun.mStopExtraction) {
          if (!w->dlg->IsWindow()) w->sawWindowGone = true;
          w->dlg->SetFileProgress(1);
        }
      },
      &watch));
  mDlg->CloseDialog(IDCANCEL);
  EXPECT_FALSE(watch.sawWindowGone);
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
  CMainDlg second;
  ASSERT_NE(second.Create(nullptr, 0), nullptr);
  theModule.Init(::GetModuleHandleW(L"kernel32.dll"));  // a module without the banner
  second.ShowWindow(SW_SHOW);
  for (int paint = 0; paint < 2; ++paint) {
    second.Invalidate();
    ::UpdateWindow(second.m_hWnd);
  }
  theModule.Init(::GetModuleHandleW(nullptr));
  EXPECT_EQ(second.mBannerDC, nullptr) << "no memory DC for a banner that is not there";
}

unsigned long __stdcall NoShortNames(const wchar_t*, wchar_t*, unsigned long) {
  return 0;
}

TEST_F(DialogTest, AClientFolderWithoutAWritableShortNameIsRefusedBeforeTheEngineRuns) {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder =
      std::wstring(temp) + L"\u0e01\u0e02\u0e04-" + std::to_wstring(::GetCurrentProcessId());
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  // A volume that keeps no short names.
  const ShortPathLookup previous = SetShortPathLookup(NoShortNames);
  mDlg->mRun.mZavPath = folder;
  mDlg->mRun.mDllPath = BinDir() + L"patchw32.dll";
  mDlg->mRun.mPatchPath = BinDir() + L"zav.2.12.4526-2.12.4536.rtp";
  mDlg->mRun.mExtractDone = true;
  BoxAnswerer answer(IDOK);
  ::SendMessageW(mDlg->m_hWnd, WM_TIMER, kExtractTimerId, 0);
  const AnsweredBox box = answer.Wait();
  SetShortPathLookup(previous);
  ::RemoveDirectoryW(folder.c_str());
  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.text, L"补丁程序无法使用以下路径：\n" + folder +
                          L"\n\n请将客户端安装到只包含英文字母和数字的路径下，然后重新运行补丁程序。");
  EXPECT_EQ(mDlg->mRun.mPage, PageFailed);
  EXPECT_EQ(mDlg->mRun.mOutcome, static_cast<uint32_t>(OutcomeSupport));
  EXPECT_EQ(mDlg->mRun.mReportDetail, L"Path not usable by the engine");
  EXPECT_TRUE(Visible(IDC_SUPPORT));
}
