// Diagnostic traces reach a monitor of the debugger output (as DebugView is one) started while the
// installer runs.
#include "win/DebugOutput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "framework/Handle.h"

TEST(DebugOutput, AMonitorStartedDuringTheRunHearsTracesWithinASecond) {
  CDebugOutput output;
  output.Write(L"before any monitor\n");
  // The monitor's side: a shared buffer (the writer's process id, then its text) and two events, served by
  // a thread of its own as a real monitor does, so the writer and other programs tracing never wait on it.
  CHandle buffer(
      ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER"));
  CHandle ready(::CreateEventW(nullptr, FALSE, TRUE, L"DBWIN_BUFFER_READY"));
  CHandle data(::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
  ASSERT_TRUE(buffer && ready && data);
  const char* view = static_cast<const char*>(::MapViewOfFile(buffer.Get(), FILE_MAP_READ, 0, 0, 4096));
  ASSERT_NE(view, nullptr);
  const std::string trace = "id = 7 (0x7), msg = data\\maps.pak\n";
  std::atomic<bool> stop{false}, heard{false};
  std::thread monitor([&] {
    while (!stop) {
      if (::WaitForSingleObject(data.Get(), 20) != WAIT_OBJECT_0) continue;
      const DWORD writer = *reinterpret_cast<const DWORD*>(view);
      if (writer == ::GetCurrentProcessId() && trace == view + sizeof writer) heard = true;
      ::SetEvent(ready.Get());
    }
  });
  ::Sleep(1100);
  output.Write(std::wstring(trace.begin(), trace.end()));
  for (int wait = 0; !heard && wait < 200; ++wait) ::Sleep(10);
  stop = true;
  monitor.join();
  ::UnmapViewOfFile(view);
  EXPECT_TRUE(heard);
}
