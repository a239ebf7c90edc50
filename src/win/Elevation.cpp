#include "win/Elevation.h"

#include <windows.h>

#include <optional>

#include "framework/Handle.h"

namespace {

// Whether `process` runs elevated; nothing when its token cannot be read.
std::optional<bool> ElevationOf(HANDLE process) {
  const CHandle token = ProcessToken(TOKEN_QUERY, process);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!token || !::GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &size))
    return std::nullopt;
  return elevation.TokenIsElevated != 0;
}

bool IsThisProcessElevated() {
  return ElevationOf(::GetCurrentProcess()).value_or(false);
}

ElevationProbe gElevated = IsThisProcessElevated;

}  // namespace

bool IsProcessElevated() {
  return gElevated();
}

ElevationProbe SetElevationProbe(ElevationProbe probe) {
  const ElevationProbe previous = gElevated;
  gElevated = probe ? probe : IsThisProcessElevated;
  return previous;
}

bool DesktopShellRunsUnelevated() {
  DWORD shellProcessId = 0;
  const HWND shellWindow = ::GetShellWindow();
  if (!shellWindow || !::GetWindowThreadProcessId(shellWindow, &shellProcessId)) return false;
  const CHandle shell(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcessId));
  return shell && ElevationOf(shell.Get()) == false;
}
