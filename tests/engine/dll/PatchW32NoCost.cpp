// An engine library without RTPatchGetCost, for the installer's handling of a library lacking it.
#include <cstdint>

#include "engine/dll/EngineEntry.h"

extern "C" __declspec(dllexport) uint32_t RTPATCH_CALL
    RTPatchApply32(const char* commandLine, rtp::Callback callback, uint32_t) {
  if (!callback) return rtp::kErrCommandLine;
  rtp::CallbackListener listener(callback);
  return rtp::ApplyCommandLine(commandLine, listener);
}
