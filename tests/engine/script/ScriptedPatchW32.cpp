// The scripted test engine: the engine library with a script played around its run (ScriptedRun.h),
// exporting the two entry points as patchw32.dll does. A patch file that is not scripted runs as the
// engine would run it.
#include <cstdint>
#include <memory>

#include "ScriptedRun.h"
#include "engine/dll/EngineEntry.h"

extern "C" __declspec(dllexport) uint32_t RTPATCH_CALL
    RTPatchApply32(const char* commandLine, rtp::Callback callback, uint32_t) {
  if (!callback) return rtp::kErrCommandLine;
  rtp::CallbackListener listener(callback);
  return rtp::ApplyCommandLine(commandLine, listener,
                               [](rtp::Source& patch, rtp::FileSystem& client, rtp::Listener& calls) {
                                 return enginetest::RunScripted(patch, client, calls);
                               });
}

extern "C" __declspec(dllexport) uint32_t RTPATCH_CALL
    RTPatchGetCost(const wchar_t* patchPath, uint32_t* biggest, uint32_t* newSize, uint32_t* oldSize,
                   uint32_t* files, uint32_t) {
  if (!patchPath) return rtp::kErrCommandLine;
  std::unique_ptr<rtp::Source> file;
  if (const uint32_t failed = rtp::OpenPatchFile(patchPath, &file)) return failed;
  rtp::PatchCost cost;
  if (const uint32_t failed = enginetest::ScriptedCost(*file, &cost)) return failed;
  if (biggest) *biggest = cost.biggest;
  if (newSize) *newSize = cost.newSize;
  if (oldSize) *oldSize = cost.oldSize;
  if (files) *files = cost.files;
  return rtp::kOk;
}
