// The dialog's output operations, from its own thread, from a worker thread while the dialog's thread
// pumps, and after the window is gone.

#include <thread>

#include "DialogFixture.h"

namespace {

int BarPos(HWND dialog, int id) {
  return static_cast<int>(::SendMessageW(::GetDlgItem(dialog, id), PBM_GETPOS, 0, 0));
}

std::wstring ListRow(HWND dialog, int row) {
  wchar_t buffer[512] = {};
  LVITEMW item{};
  item.iSubItem = 0;
  item.pszText = buffer;
  item.cchTextMax = 512;
  ::SendMessageW(::GetDlgItem(dialog, IDC_DETAILS_LIST), LVM_GETITEMTEXTW, row,
                 reinterpret_cast<LPARAM>(&item));
  return buffer;
}

}  // namespace

TEST_F(DialogTest, ProgressIsClampedToItsRangeAndReturnsTheBarsPreviousPosition) {
  HWND dialog = mDlg->m_hWnd;
  mDlg->SetFileProgress(40);
  EXPECT_EQ(mDlg->SetFileProgress(150), 40);
  EXPECT_EQ(BarPos(dialog, IDC_FILE_PROGRESS), 100);
  EXPECT_EQ(mDlg->SetFileProgress(-5), 100) << "the previous position is the bar's, not the value passed";
  EXPECT_EQ(BarPos(dialog, IDC_FILE_PROGRESS), 0);

  // A bar's first position on a page sets its range, whatever happened to the bar before.
  ::SendMessageW(::GetDlgItem(dialog, IDC_TOTAL_PROGRESS), PBM_SETRANGE32, 0, 1000);
  mDlg->SetTotalProgress(250);
  EXPECT_EQ(BarPos(dialog, IDC_TOTAL_PROGRESS), 100);
  EXPECT_EQ(BarPos(dialog, IDC_FILE_PROGRESS), 0) << "each operation moves its own bar";
}

TEST_F(DialogTest, DetailRowsAreOneLineEachAndTheLastIsAlwaysInView) {
  HWND dialog = mDlg->m_hWnd;
  mDlg->AddDetail(L"第一行\n第二行\n");
  EXPECT_EQ(ListRow(dialog, 0), L"第一行 第二行 ");
  for (int i = 1; i <= 60; ++i) mDlg->AddDetail(L"row " + std::to_wstring(i));
  HWND list = ::GetDlgItem(dialog, IDC_DETAILS_LIST);
  ASSERT_EQ(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 61);
  EXPECT_EQ(ListRow(dialog, 60), L"row 60");
  int top = static_cast<int>(::SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
  int perPage = static_cast<int>(::SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
  EXPECT_GT(top, 0);
  EXPECT_GE(top + perPage, 61) << "the last row is fully visible";
}

TEST_F(DialogTest, StatusLinesAndHeadingTakeTheirTexts) {
  mDlg->SetFileStatus(L"解压文件 patchw32.dll…");
  mDlg->SetPhaseStatusId(IDS_EXTRACTING_PHASE);
  EXPECT_EQ(Text(IDC_FILE_STATUS), L"解压文件 patchw32.dll…");
  EXPECT_EQ(Text(IDC_PHASE_STATUS), L"解压文件…");
  EXPECT_FALSE(Visible(IDC_FILE_STATUS)) << "the status statics are drawn by the dialog, never shown";
  mDlg->SetTitleId(IDS_INSTALLING_TITLE);
  EXPECT_EQ(mDlg->Title(), L"安装升级补丁…");
  mDlg->SetTitleId(9999);
  EXPECT_EQ(mDlg->Title(), L"") << "a missing string is empty text";
  mDlg->SetItemTextId(IDOK, IDS_END_BUTTON);
  EXPECT_EQ(Text(IDOK), L"结束");
}

TEST_F(DialogTest, OperationsFromAWorkerThreadLandInTheControls) {
  HWND dialog = mDlg->m_hWnd;
  std::atomic<bool> done{false};
  int previous = -1;
  std::thread worker([&] {
    mDlg->SetTotalProgress(30);
    previous = mDlg->SetTotalProgress(2);
    mDlg->SetFileProgress(77);
    mDlg->SetFileStatus(L"解压文件 zav.2.12.4526-2.12.4536.rtp…");
    mDlg->SetPhaseStatusId(IDS_EXTRACTING_PHASE);
    mDlg->AddDetail(L"Extracting \"patchw32.dll\"...");
    done = true;
  });
  // The sends are served while this thread pumps, as the dialog's message loop does during extraction.
  DWORD start = ::GetTickCount();
  while (!done && ::GetTickCount() - start < 5000) Pump(10);
  worker.join();
  ASSERT_TRUE(done);
  EXPECT_EQ(previous, 30);
  EXPECT_EQ(BarPos(dialog, IDC_TOTAL_PROGRESS), 2);
  EXPECT_EQ(BarPos(dialog, IDC_FILE_PROGRESS), 77);
  EXPECT_EQ(Text(IDC_FILE_STATUS), L"解压文件 zav.2.12.4526-2.12.4536.rtp…");
  EXPECT_EQ(Text(IDC_PHASE_STATUS), L"解压文件…");
  EXPECT_EQ(ListRow(dialog, 0), L"Extracting \"patchw32.dll\"...");
}

TEST_F(DialogTest, OperationsAfterTheWindowIsGoneDoNothing) {
  mDlg->DestroyWindow();
  Pump();
  ASSERT_FALSE(mDlg->IsWindow());
  EXPECT_EQ(mDlg->SetFileProgress(50), 0);
  EXPECT_EQ(mDlg->SetTotalProgress(50), 0);
  mDlg->SetFileStatus(L"x");
  mDlg->SetPhaseStatusId(IDS_EXTRACTING_PHASE);
  mDlg->AddDetail(L"x");
  mDlg->SetTitle(L"x");
  mDlg->ResetPage();
  EXPECT_EQ(mDlg->Title(), L"x");
}

TEST_F(DialogTest, ErrorStyleMessagesUseTheErrorCaptionAndIcon) {
  BoxAnswerer answer(IDOK);
  int result = mDlg->ShowMessage(IDS_FILES_MISSING, 0);
  AnsweredBox box = answer.Wait();
  ASSERT_TRUE(box.found);
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(box.caption, L"发生一个错误");
  EXPECT_EQ(box.text, L"缺少文件。");
  EXPECT_TRUE(box.hasErrorIcon);
}

TEST_F(DialogTest, OtherStylesKeepTheirButtonsWithTheProgramsCaption) {
  BoxAnswerer answer(IDRETRY);
  int result = mDlg->ShowMessage(IDS_CLIENT_RUNNING_RETRY, MB_RETRYCANCEL | MB_ICONHAND);
  AnsweredBox box = answer.Wait();
  ASSERT_TRUE(box.found);
  EXPECT_EQ(result, IDRETRY);
  EXPECT_EQ(box.caption, L"《澜星纪》更新");
  EXPECT_EQ(
      box.text,
      L"ZAV客户端还在运行中,"
      L"无法进行更新。\n如果关闭ZAV客户端后仍然出现该提示，你可能需要重启你的计算机后重新尝试进行更新。");
}

namespace {

// Counts the positions and ranges sent to a bar.
int gPositionsSent = 0;
int gRangesSent = 0;
WNDPROC gBarProc = nullptr;
LRESULT CALLBACK CountingBarProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  gPositionsSent += msg == PBM_SETPOS;
  gRangesSent += msg == PBM_SETRANGE || msg == PBM_SETRANGE32;
  return ::CallWindowProcW(gBarProc, hwnd, msg, wParam, lParam);
}

}  // namespace

TEST_F(DialogTest, ABarIsNotSentThePositionItShowsUntilAPageSwitch) {
  HWND bar = ::GetDlgItem(mDlg->m_hWnd, IDC_FILE_PROGRESS);
  gBarProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingBarProc)));
  gPositionsSent = gRangesSent = 0;
  mDlg->SetFileProgress(40);
  EXPECT_EQ(mDlg->SetFileProgress(40), 40);
  EXPECT_EQ(mDlg->SetFileProgress(40), 40);
  EXPECT_EQ(gPositionsSent, 1);
  mDlg->ResetPage();
  mDlg->SetFileProgress(40);
  EXPECT_EQ(gPositionsSent, 2) << "a page switch forgets what the bar showed";
  for (int position : {50, 60}) {  // kept while the engine holds the thread, then shown
    mDlg->HoldOutput(true);
    mDlg->SetFileProgress(position);
    mDlg->HoldOutput(false);
  }
  EXPECT_EQ(gPositionsSent, 4);
  EXPECT_EQ(gRangesSent, 2) << "the range is set once per page";
  ::SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(gBarProc));
}
