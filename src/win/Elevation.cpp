#include "win/Elevation.h"

#include <windows.h>

#include "framework/Handle.h"

namespace {

bool IsTokenElevated() {
  const CHandle token = ProcessToken(TOKEN_QUERY);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return ::GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
         elevation.TokenIsElevated != 0;
}

ElevationProbe gElevated = IsTokenElevated;

}  // namespace

bool IsProcessElevated() {
  return gElevated();
}

ElevationProbe SetElevationProbe(ElevationProbe probe) {
  const ElevationProbe previous = gElevated;
  gElevated = probe ? probe : IsTokenElevated;
  return previous;
}
