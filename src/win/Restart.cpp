#include "win/Restart.h"

#include "framework/Handle.h"

namespace {

// A process may only restart the system with the shutdown privilege enabled in its token;
// without it the request fails with ERROR_PRIVILEGE_NOT_HELD and nothing restarts.
void EnableShutdownPrivilege() {
  const CHandle token = ProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
  if (!token) return;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) return;
  ::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
}

BOOL RestartForReal() {
  EnableShutdownPrivilege();
  return ::ExitWindowsEx(EWX_REBOOT, SHTDN_REASON_MAJOR_OTHER | SHTDN_REASON_MINOR_UPGRADE);
}

RestartRequest gRestartRequest = RestartForReal;

}  // namespace

BOOL RequestSystemRestart() {
  return gRestartRequest();
}

RestartRequest SetRestartRequest(RestartRequest request) {
  RestartRequest previous = gRestartRequest;
  gRestartRequest = request ? request : RestartForReal;
  return previous;
}
