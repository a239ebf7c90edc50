#pragma once
// The system restart the finished page offers when locked files were replaced. Tests put their own
// request in place, so no test ever restarts the machine (under Wine it would end every program of
// the prefix).
#include <windows.h>

using RestartRequest = BOOL (*)();

// Asks the system to restart: reboot, reason "other / upgrade". The result is the request's.
BOOL RequestSystemRestart();

// Replaces the request for this process; null restores the real one. Returns the previous one.
RestartRequest SetRestartRequest(RestartRequest request);
