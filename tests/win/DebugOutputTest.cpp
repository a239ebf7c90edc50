// Diagnostic traces reach a monitor of the debugger output (as DebugView is one) that starts while the
// installer runs.
#include "win/DebugOutput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "framework/Handle.h"

namespace {

// The monitor's side of the debugger output: a shared buffer (the writer's process id, then its text)
// and two events. A thread of its own serves every writer at once, as a real monitor does, so programs
// tracing meanwhile (other tests) do not wait on it and the writer here does not wait on itself.
class Monitor {
 public:
  explicit Monitor(std::string awaited)
      : mAwaited(std::move(awaited)),
        mBuffer(
            ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, L"DBWIN_BUFFER")),
        mReady(::CreateEventW(nullptr, FALSE, TRUE, L"DBWIN_BUFFER_READY")),
        mData(::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY")),
        mView(mBuffer ? static_cast<char*>(::MapViewOfFile(mBuffer.Get(), FILE_MAP_READ, 0, 0, kSize))
                      : nullptr) {
    if (Ok()) mServer = std::thread([this] { Serve(); });
  }
  ~Monitor() {
    mStop = true;
    if (mServer.joinable()) mServer.join();
    if (mView) ::UnmapViewOfFile(mView);
  }
  bool Ok() const { return mView && mReady && mData; }

  // Whether this process wrote the awaited text within the wait.
  bool Heard(DWORD waitMs) const {
    for (const DWORD start = ::GetTickCount(); !mHeard && ::GetTickCount() - start < waitMs;) ::Sleep(10);
    return mHeard;
  }

 private:
  void Serve() {
    while (!mStop) {
      if (::WaitForSingleObject(mData.Get(), 20) != WAIT_OBJECT_0) continue;
      DWORD pid = 0;
      std::memcpy(&pid, mView, sizeof pid);
      if (pid == ::GetCurrentProcessId() && mAwaited == mView + sizeof pid) mHeard = true;
      ::SetEvent(mReady.Get());
    }
  }

  static constexpr DWORD kSize = 4096;
  const std::string mAwaited;
  CHandle mBuffer, mReady, mData;
  char* mView;
  std::atomic<bool> mStop{false}, mHeard{false};
  std::thread mServer;
};

TEST(DebugOutput, AMonitorStartedDuringTheRunHearsTracesWithinASecond) {
  CDebugOutput output;
  output.Write(L"before any monitor\n");
  Monitor monitor("id = 7 (0x7), msg = data\\maps.pak\n");
  ASSERT_TRUE(monitor.Ok());
  ::Sleep(1100);
  output.Write(L"id = 7 (0x7), msg = data\\maps.pak\n");
  EXPECT_TRUE(monitor.Heard(2000));
}

}  // namespace
