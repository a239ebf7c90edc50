// An engine library without RTPatchApply32, for the installer's handling of a library lacking it.
#include <cstdint>

#include "engine/dll/EngineEntry.h"

extern "C" __declspec(dllexport) uint32_t RTPATCH_CALL
    RTPatchGetCost(const wchar_t* patchPath, uint32_t* biggestSz, uint32_t* newSystemSz,
                   uint32_t* oldSystemSz, uint32_t* numFiles, uint32_t) {
  return rtp::CostOfPatch(patchPath, biggestSz, newSystemSz, oldSystemSz, numFiles);
}
