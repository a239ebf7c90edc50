// The engine's notifications as the patch run receives them, on the real dialog created in-process: the
// test takes the engine's place, sends what the engine sends and reads the dialog back.
#include "DialogFixture.h"

namespace {

// Notifications sent while a run over the fake machine holds the engine.
class EngineCallbackTest : public DialogTest {
 protected:
  const char* SendText(uint32_t id, const char* text) { return Send(id, const_cast<char*>(text)); }
  const char* SendNumber(uint32_t id, uint32_t value) { return Send(id, &value); }

  int Bar(int id) const {
    return static_cast<int>(::SendDlgItemMessageW(mDlg->m_hWnd, id, PBM_GETPOS, 0, 0));
  }
  int Rows() const {
    return static_cast<int>(::SendDlgItemMessageW(mDlg->m_hWnd, IDC_DETAILS_LIST, LVM_GETITEMCOUNT, 0, 0));
  }
};

}  // namespace

TEST_F(EngineCallbackTest, FileProgressIsTheLow16BitsIn32768ths) {
  RunEngine([&] {
    EXPECT_NE(SendNumber(5, 0x8000), nullptr);
    EXPECT_EQ(Bar(IDC_FILE_PROGRESS), 100);
    SendNumber(5, 0x4000);
    EXPECT_EQ(Bar(IDC_FILE_PROGRESS), 50);
    SendNumber(5, 0x12000);  // the high bits are not progress
    EXPECT_EQ(Bar(IDC_FILE_PROGRESS), 25);
    SendNumber(5, 0xC000);  // past done: the bar stays full
    EXPECT_EQ(Bar(IDC_FILE_PROGRESS), 100);
  });
}

TEST_F(EngineCallbackTest, FileStartsMoveTheOverallBarByTheTruncatedShare) {
  RunEngine([&] {
    SendNumber(6, 100);
    for (int i = 1; i <= 29; ++i) SendText(7, "data\\maps.pak");
    EXPECT_EQ(Bar(IDC_TOTAL_PROGRESS), 28) << "29 / 100 in double precision, then times 100, truncated";
    for (int i = 30; i <= 57; ++i) SendText(7, "data\\maps.pak");
    EXPECT_EQ(Bar(IDC_TOTAL_PROGRESS), 56);
    EXPECT_EQ(Bar(IDC_FILE_PROGRESS), (57 % 5) * 25);
    EXPECT_EQ(Text(IDC_FILE_STATUS), L"[57 of 100] 正在处理文件 data\\maps.pak...");
  });
  EXPECT_EQ(mDlg->Run().Page(), PageFailed) << "57 of 100 files: the engine stopped early";
}

TEST_F(EngineCallbackTest, FileStartBeforeAnyTotalReadsOneOfZeroAndCountsAsDone) {
  RunEngine([&] {
    SendText(7, "zav.exe");
    EXPECT_EQ(Text(IDC_FILE_STATUS), L"[1 of 0] 正在处理文件 zav.exe...");
    EXPECT_EQ(Bar(IDC_TOTAL_PROGRESS), 0);
  });
  EXPECT_EQ(mDlg->Run().Page(), PageFinished);
}

TEST_F(EngineCallbackTest, MoreStartsThanAnnouncedKeepTheBarFullAndTheRunDone) {
  RunEngine([&] {
    SendNumber(6, 2);
    for (const char* file : {"a", "b", "c"}) SendText(7, file);
    EXPECT_EQ(Bar(IDC_TOTAL_PROGRESS), 100);
  });
  EXPECT_EQ(mDlg->Run().Page(), PageFinished);
}

TEST_F(EngineCallbackTest, DetailLinesAreListedAndALockedFileAsksToRestart) {
  for (uint32_t locked : {26u, 28u}) {  // replaced, deleted
    BoxAnswerer answer(IDNO);
    RunEngine([&] {
      SendNumber(6, 1);
      SendText(7, "data\\a.pak");
      SendText(9, "Patching file data\\a.pak");
      EXPECT_EQ(Rows(), 1);
      Send(locked);
      EXPECT_NE(Send(99), nullptr) << "other ids are ignored and the run goes on";
    });
    const AnsweredBox box = answer.Wait();
    ASSERT_TRUE(box.found) << locked;
    EXPECT_EQ(box.text.substr(0, 6), L"安装已经结束");
    EXPECT_EQ(mDlg->Run().Page(), PageFinished);
  }
}

TEST_F(EngineCallbackTest, CancelIsHonouredAtTheNextCallBeforeAnythingElse) {
  RunEngine([&] {
    ::SendMessageW(mDlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(mDlg->IsWindow()) << "a running engine is stopped, not the dialog";
    EXPECT_EQ(mDlg->Run().Page(), PageFailed);
    EXPECT_EQ(mDlg->Run().Message(), L"您已经取消了安装，您将无法进行游戏除非您完成补丁的安装。");
    EXPECT_EQ(SendText(9, "ignored"), nullptr) << "null asks the engine to stop";
    EXPECT_EQ(Rows(), 0);
    EXPECT_NE(SendText(9, "next"), nullptr) << "the signal is consumed once";
  });
  for (int id : {IDC_GET_CLIENT, IDC_GET_PATCH, IDC_SUPPORT, IDC_LAUNCH}) EXPECT_FALSE(Visible(id));
}

TEST_F(EngineCallbackTest, ACancelQueuedInTheDialogsMessagesStopsTheSameCall) {
  RunEngine([&] {
    ::PostMessageW(mDlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(SendNumber(5, 0x8000), nullptr) << "the queue is served first, then the event is seen";
    EXPECT_EQ(mDlg->Run().Page(), PageFailed);
  });
}

TEST_F(EngineCallbackTest, ACancelAfterTheFlowChoseItsPageKeepsTheCausesMessage) {
  RunEngine([&] {
    mDlg->EndRun(Ending::Failed().WithMessage(L"引擎错误"));
    mDlg->OnCancel(0, kCancelByFlow, nullptr);
    EXPECT_TRUE(mDlg->IsWindow());
    EXPECT_EQ(mDlg->Run().Message(), L"引擎错误");
    EXPECT_EQ(mDlg->Run().Page(), PageFailed);
  });
}

TEST_F(EngineCallbackTest, EngineErrorShowsTheCrcTextAndEndsOnTheReinstallPage) {
  RunEngine([&] {
    SendNumber(6, 3);
    SendText(7, "data\\maps.pak");
    BoxAnswerer answer(IDOK);
    const char* reply = SendText(3, "Error ept0036: CRC mismatch in data\\maps.pak");
    AnsweredBox box = answer.Wait();
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.caption, L"发生一个错误");
    EXPECT_TRUE(box.hasErrorIcon);
    const std::wstring expected =
        L"补丁文件安装错误: data\\maps.pak. "
        L"指定的文件CRC校验值错误。\n\n这表明您的ZAV客户端已经损坏，请重新安装ZAV客户端。";
    EXPECT_EQ(box.text, expected);
    EXPECT_NE(reply, nullptr) << "this call goes on; the engine is stopped at its next one";
    EXPECT_EQ(mDlg->Run().Message(), expected);
    EXPECT_EQ(mDlg->Run().OutcomeCode(), static_cast<uint32_t>(OutcomeReinstallClient));
    EXPECT_EQ(mDlg->Run().ReportDetail(), L"Error ept0036: CRC mismatch in data\\maps.pak");
    EXPECT_EQ(mDlg->Run().Page(), PageFailed);
    EXPECT_TRUE(Visible(IDC_GET_CLIENT));
    EXPECT_EQ(SendNumber(5, 0x100), nullptr);
  });
}

TEST_F(EngineCallbackTest, WarningsAreListedAndShownWithoutStoppingTheRun) {
  RunEngine([&] {
    BoxAnswerer answer(IDOK);
    const char* reply = SendText(2, "file data\\old.pak is read-only");
    AnsweredBox box = answer.Wait();
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.text, L"Warning: file data\\old.pak is read-only");
    EXPECT_EQ(box.caption, box.text);
    EXPECT_NE(reply, nullptr);
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(mDlg->Run().Page(), PageInstalling);
  });
}

TEST_F(EngineCallbackTest, ABurstOfNotificationsEndsWithTheScreenShowingTheLastValues) {
  RunEngine([&] {
    mDlg->HoldOutput(true);  // as while the engine runs
    SendNumber(6, 3000);
    for (int file = 1; file <= 3000; ++file) {
      SendText(7, "data\\maps.pak");
      SendNumber(5, 0x4000);
      SendText(9, "a detail");
    }
    mDlg->HoldOutput(false);  // the engine has returned
    Pump();
    EXPECT_EQ(Rows(), 3000);
    EXPECT_EQ(Bar(IDC_TOTAL_PROGRESS), 100);
    EXPECT_EQ(Bar(IDC_FILE_PROGRESS), 50);
    EXPECT_EQ(Text(IDC_FILE_STATUS), L"[3000 of 3000] 正在处理文件 data\\maps.pak...");
  });
}

TEST_F(EngineCallbackTest, DetailsPressedDuringARunListsEveryDetailSoFar) {
  RunEngine([&] {
    mDlg->HoldOutput(true);
    for (int row = 0; row < 5; ++row) SendText(9, "a detail");
    ::SendMessageW(mDlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_DETAILS, BN_CLICKED), 0);
    EXPECT_EQ(Rows(), 5);
    mDlg->HoldOutput(false);
  });
}

TEST_F(EngineCallbackTest, CancelPressedDuringABurstIsHonouredWithinTheBurst) {
  RunEngine([&] {
    mDlg->HoldOutput(true);
    SendNumber(6, 1000000);
    bool stopped = false;
    const DWORD start = ::GetTickCount();
    for (int call = 0; !stopped && ::GetTickCount() - start < 2000; ++call) {
      if (call == 100) ::PostMessageW(mDlg->m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      stopped = SendText(7, "data\\maps.pak") == nullptr;
    }
    mDlg->HoldOutput(false);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(mDlg->Run().Page(), PageFailed);
  });
}
