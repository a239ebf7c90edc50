#pragma once
// Whether the installer runs elevated (an administrator's full rights): it then keeps its temporary
// folder to the administrators and hands what it starts to the user's own shell.

// The process token's answer; tests put their own in place.
bool IsProcessElevated();

// Null restores the real question; returns the previous one.
using ElevationProbe = bool (*)();
ElevationProbe SetElevationProbe(ElevationProbe probe);
