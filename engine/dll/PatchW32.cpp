// patchw32.dll: the patch engine. It exports the two entry points the installer binds by name,
// standard-call with their argument sizes in the name:
//   RTPatchApply32@12  (command line, callback, wait)
//   RTPatchGetCost@24  (patch path, biggest, new size, old size, file count, 0)
#include <cstdint>
#include <type_traits>

#include "engine/EngineAbi.h"
#include "engine/dll/EngineEntry.h"

// Applies the patch named by the command line to the client folder it names, calling back on this
// thread; returns when done. 0 on success, otherwise the error number (rtp::kErrAborted when the
// callback returned null). `wait` is accepted and ignored: the run is always synchronous.
extern "C" __declspec(dllexport) uint32_t RTPATCH_CALL
    RTPatchApply32(const char* commandLine, rtp::Callback callback, uint32_t wait) {
  (void)wait;
  if (!callback) return rtp::kErrCommandLine;
  rtp::CallbackListener listener(callback);
  return rtp::ApplyCommandLine(commandLine, listener);
}
static_assert(std::is_same_v<decltype(&RTPatchApply32), rtp::ApplyFn>, "RTPatchApply32 is the interface's");

// Reports what applying the patch costs (see rtp::PatchCost). Each result pointer may be null. 0 on
// success, otherwise an error number, with the results left as they were.
extern "C" __declspec(dllexport) uint32_t RTPATCH_CALL
    RTPatchGetCost(const wchar_t* patchPath, uint32_t* biggestSz, uint32_t* newSystemSz,
                   uint32_t* oldSystemSz, uint32_t* numFiles, uint32_t zero) {
  (void)zero;
  return rtp::CostOfPatch(patchPath, biggestSz, newSystemSz, oldSystemSz, numFiles);
}
static_assert(std::is_same_v<decltype(&RTPatchGetCost), rtp::GetCostFn>, "RTPatchGetCost is the interface's");
