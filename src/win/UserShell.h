#pragma once
// Opening an address or a program for the user. An elevated installer would hand its administrator
// rights to whatever it starts (the browser for the error report, the game client); it asks the desktop's
// shell (Explorer, which runs with the user's normal rights) to start them instead. Not elevated, or with
// no unelevated desktop shell to ask, the installer opens them itself, as any program would.
#include <string>

void OpenAsUser(const std::wstring& target);

// How a target reaches the desktop's shell; false when there is no shell to ask. Tests put their own in
// place; null restores the real one. Returns the previous one.
using DesktopShellOpen = bool (*)(const std::wstring& target, const std::wstring& folder);
DesktopShellOpen SetDesktopShellOpen(DesktopShellOpen open);
