#include "win/DebugOutput.h"

#include "framework/Handle.h"

namespace {

// A monitor of the debugger output (DebugView, or a test) owns the shared buffer of this name.
const wchar_t kMonitorBuffer[] = L"DBWIN_BUFFER";
constexpr DWORD kLookIntervalMs = 1000;

}  // namespace

void CDebugOutput::Write(const std::wstring& text) {
  if (Listened()) ::OutputDebugStringW(text.c_str());
}

bool CDebugOutput::Listened() {
  if (::IsDebuggerPresent()) return true;
  const DWORD now = ::GetTickCount();
  if (!mLooked || now - mLookedAt >= kLookIntervalMs) {
    mLooked = true;
    mLookedAt = now;
    mMonitor = static_cast<bool>(CHandle(::OpenFileMappingW(FILE_MAP_READ, FALSE, kMonitorBuffer)));
  }
  return mMonitor;
}
