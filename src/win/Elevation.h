#pragma once
// Whether the installer runs elevated (an administrator's full rights): it then keeps its temporary
// folder to the administrators and hands what it starts to the user's own shell.

// The process token's answer; tests put their own in place.
bool IsProcessElevated();

// Null restores the real question; returns the previous one.
using ElevationProbe = bool (*)();
ElevationProbe SetElevationProbe(ElevationProbe probe);

// Whether the desktop's shell (the process owning the shell window) runs without elevation, so that what
// it starts gets the user's normal rights. False with no shell window, or when its token cannot be read.
bool DesktopShellRunsUnelevated();
