// An engine library that needs a library of its own beside it (planted_library.dll), to test where the
// installer lets it be found.
#include <cstdint>

#include "engine/dll/EngineEntry.h"

extern "C" __declspec(dllimport) int PlantedHelper();

extern "C" __declspec(dllexport) uint32_t RTPATCH_CALL
    RTPatchApply32(const char* commandLine, rtp::Callback callback, uint32_t) {
  if (!callback || PlantedHelper() != 1) return rtp::kErrCommandLine;
  rtp::CallbackListener listener(callback);
  return rtp::ApplyCommandLine(commandLine, listener);
}

extern "C" __declspec(dllexport) uint32_t RTPATCH_CALL
    RTPatchGetCost(const wchar_t* patchPath, uint32_t* biggestSz, uint32_t* newSystemSz,
                   uint32_t* oldSystemSz, uint32_t* numFiles, uint32_t) {
  return rtp::CostOfPatch(patchPath, biggestSz, newSystemSz, oldSystemSz, numFiles);
}
