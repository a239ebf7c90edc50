#pragma once
// The debugger output for diagnostic traces. Each write raises an exception and looks for a system-wide
// monitor, which costs tens of microseconds when the window system is busy, and the engine's notifications
// trace by the thousand: so a trace is written only while a debugger or a monitor listens.
#include <windows.h>

#include <string>

class CDebugOutput {
 public:
  void Write(const std::wstring& text);
  // True when a debugger is attached, or a monitor was there when last looked for (at most once a second).
  bool Listened();

 private:
  bool mLooked = false;
  bool mMonitor = false;
  DWORD mLookedAt = 0;
};
