#pragma once
// What the engine library's two entry points do, for patchw32.dll (dll/PatchW32.cpp, which only exports
// them) and for the test and benchmark libraries built around the same calls.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/EngineAbi.h"
#include "engine/apply/Apply.h"
#include "engine/format/PatchFormat.h"

namespace rtp {

// Passes the engine's notifications to the caller's callback; a null answer stops the run. The engine's
// texts are UTF-8 (file names may be Chinese); the caller reads them in the ANSI code page. Every text
// goes as a copy the caller may write to.
class CallbackListener : public Listener {
 public:
  explicit CallbackListener(Callback callback) : mCallback(callback) {}
  bool Notify(uint32_t id, void* param) override;

 private:
  Callback mCallback;
};

// Opens a patch file to be read in pieces: 0, or the error number (10 when it cannot be opened).
uint32_t OpenPatchFile(const std::wstring& path, std::unique_ptr<Source>* out);

// RTPatchApply32's work: applies the patch the 8-bit command line names to the client folder it names,
// calling back through `listener` on this thread. 0 on success, otherwise the error number.
uint32_t ApplyCommandLine(const char* commandLine, Listener& listener);
// The same with the run given: what it does with the opened patch file and client folder.
using PatchRun = std::function<uint32_t(Source& patch, FileSystem& client, Listener& listener)>;
uint32_t ApplyCommandLine(const char* commandLine, Listener& listener, const PatchRun& run);

// RTPatchGetCost's work: what applying the patch at `patchPath` costs. Each result pointer may be null.
// 0 on success, otherwise an error number, with the results left as they were.
uint32_t CostOfPatch(const wchar_t* patchPath, uint32_t* biggest, uint32_t* newSize, uint32_t* oldSize,
                     uint32_t* files);

}  // namespace rtp
