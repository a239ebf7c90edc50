// Diagnostic traces are written while a monitor of the debugger output (as DebugView is one) listens,
// also one started while the installer runs.
#include "win/DebugOutput.h"

#include <gtest/gtest.h>

#include "framework/Handle.h"

TEST(DebugOutput, AMonitorStartedDuringTheRunIsHeardWithinASecond) {
  CDebugOutput output;
  ASSERT_FALSE(output.Listened());
  // A monitor owns the shared buffer of this name.
  CHandle buffer(
      ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER"));
  ASSERT_TRUE(buffer);
  EXPECT_FALSE(output.Listened()) << "looked for at most once a second";
  ::Sleep(1100);
  EXPECT_TRUE(output.Listened());
}
