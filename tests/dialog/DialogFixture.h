#pragma once
// The installer's main dialog created in this test process, with helpers to pump its messages and to
// answer the message boxes it shows.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "../core/FakeRun.h"
#include "dialog/MainDlg.h"
#include "win/WinPorts.h"

using namespace core;
// The dialog over the machine's own ports; Open puts a dialog over other ports in its place.
class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  void Open(const RunPorts& ports);
  // The installer's own texts over the flow's fake machine: a run reaches any state through the flow.
  RunPorts FakePorts() {
    return RunPorts{mWin.texts, mMachine, mMachine, mMachine, mMachine, mMachine, mMachine};
  }
  // Over FakePorts: presses start, and the timer's tick runs the engine, whose notifications `during`
  // sends with Send (output is shown at once unless it holds it), or the machine's script without it.
  void RunEngine(const std::function<void()>& during = nullptr);
  const char* Send(uint32_t id, void* param = nullptr) { return mListener->OnEngineMessage(id, param); }

  // Handles every queued message of this thread, for at least `ms` milliseconds.
  void Pump(DWORD ms = 50);
  bool Visible(int id) const { return ::IsWindowVisible(::GetDlgItem(mDlg->m_hWnd, id)) != FALSE; }
  std::wstring Text(int id) const;
  std::wstring Caption() const;

  CWinPorts mWin;
  FakeMachine mMachine;
  CMessageLoop mLoop;
  std::unique_ptr<CMainDlg> mDlg;
  EngineListener* mListener = nullptr;  // while RunEngine's run holds the engine
};

// What a message box showed and which button answered it.
struct AnsweredBox {
  std::wstring caption;
  std::wstring text;
  bool hasErrorIcon = false;
  bool found = false;
};

// Watches, on a thread of its own, for the next message box of this process and presses `buttonId` in
// it. Wait() returns what the box showed (found is false when none appeared within the time).
class BoxAnswerer {
 public:
  explicit BoxAnswerer(int buttonId, DWORD timeoutMs = 5000);
  ~BoxAnswerer();
  AnsweredBox Wait();

 private:
  std::thread mThread;
  AnsweredBox mBox;
};

std::wstring WindowText(HWND hwnd);
// The folder of the test program, with a trailing backslash.
std::wstring BinDir();
