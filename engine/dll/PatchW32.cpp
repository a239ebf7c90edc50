// patchw32.dll: the stand-in patch engine. It exports the two entry points the installer binds by name,
// standard-call with their argument sizes in the name:
//   RTPatchApply32@12  (command line, callback, wait)
//   RTPatchGetCost@24  (patch path, biggest, new size, old size, file count, 0)
// Built several times from this file: complete, without RTPatchGetCost (PATCHW32_NO_COST) and without
// RTPatchApply32 (PATCHW32_NO_APPLY), so the installer's handling of a library lacking one can be tested;
// and for the benchmarks, stamping RTPatchApply32's entry and return and the time spent in its callback
// (PATCHW32_STAMP), and also returning at once (PATCHW32_RETURN_AT_ONCE).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>

#include "engine/apply/Apply.h"
#include "engine/dll/EngineCommandLine.h"
#include "engine/apply/Errors.h"
#include "engine/format/FormatV2.h"
#include "engine/fs/WinFileSystem.h"

#ifdef PATCHW32_STAMP
#include "framework/Handle.h"
#endif

#ifdef PATCHW32_IMPORTS_HELPER
// A variant that needs a library of its own beside it, to test where the installer lets it be found.
extern "C" __declspec(dllimport) int PlantedHelper();
#endif

namespace {

// Opens the patch file to be read in pieces: 0, or the error number (10 when it cannot be opened).
uint32_t OpenPatch(const std::wstring& path, std::unique_ptr<rtp::Source>* out) {
  const rtp::FsStatus status = rtp::OpenFileForReading(path, FILE_SHARE_READ, out);
  if (status == rtp::FsStatus::Ok) return rtp::kOk;
  return status == rtp::FsStatus::NoMemory ? rtp::kErrNoMemory : rtp::kErrPatchUnreadable;
}

class CallbackListener : public rtp::Listener {
 public:
  explicit CallbackListener(rtp::Callback callback) : mCallback(callback) {}
#ifdef PATCHW32_STAMP
  // The benchmark's variant also counts the calls and the time spent in the caller's callback.
  bool Notify(uint32_t id, void* param) override {
    LARGE_INTEGER before, after;
    ::QueryPerformanceCounter(&before);
    const bool goOn = mCallback(id, param) != nullptr;
    ::QueryPerformanceCounter(&after);
    ticks += after.QuadPart - before.QuadPart;
    calls += 1;
    return goOn;
  }
  int64_t ticks = 0;
  int64_t calls = 0;
#else
  bool Notify(uint32_t id, void* param) override {
    return mCallback(id, param) != nullptr;
  }
#endif

 private:
  rtp::Callback mCallback;
};

#ifndef PATCHW32_NO_APPLY
#ifdef PATCHW32_STAMP
// Appends "WHAT VALUE" to the file named by TESSERINE_STAMP_FILE, if set.
void Stamp(const char* what, int64_t value) {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableW(L"TESSERINE_STAMP_FILE", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  CHandle file(::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  char line[64];
  const int size = std::snprintf(line, sizeof line, "%s %lld\n", what, static_cast<long long>(value));
  DWORD written = 0;
  if (size > 0) ::WriteFile(file.Get(), line, static_cast<DWORD>(size), &written, nullptr);
}

// The performance counter is one clock for every process of the machine, so a benchmark driving the
// installer from another process can set these stamps against its own.
void Stamp(const char* what) {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  Stamp(what, now.QuadPart);
}

void StampCallbacks(const CallbackListener& listener) {
  Stamp("callback_ticks", listener.ticks);
  Stamp("callback_calls", listener.calls);
}
#else
void Stamp(const char*) {}
void StampCallbacks(const CallbackListener&) {}
#endif

#ifdef PATCHW32_RETURN_AT_ONCE
constexpr bool kReturnAtOnce = true;
#else
constexpr bool kReturnAtOnce = false;
#endif

uint32_t Apply(const char* commandLine, CallbackListener& listener) {
#ifdef PATCHW32_IMPORTS_HELPER
  if (PlantedHelper() != 1) return rtp::kErrCommandLine;
#endif
  rtp::EngineCommand command;
  if (!rtp::ParseEngineCommandLine(commandLine, &command))
    return rtp::SendError(listener, rtp::kErrCommandLine, "expected \"FOLDER\" \"PATCH\"");
  std::unique_ptr<rtp::Source> patch;
  if (const uint32_t failed = OpenPatch(Widen(command.patchPath, CP_ACP), &patch))
    return rtp::SendError(listener, failed, command.patchPath);
  rtp::WinFileSystem client(Widen(command.clientFolder, CP_ACP));
  return rtp::ApplyPatch(*patch, client, listener);
}
#endif

}  // namespace

#ifndef PATCHW32_NO_APPLY
// Applies the patch named by the command line to the client folder it names, calling back on this
// thread; returns when done. 0 on success, otherwise the error number (rtp::kErrAborted when the
// callback returned null). `wait` is accepted and ignored: the run is always synchronous.
extern "C" __declspec(dllexport) uint32_t RTPATCH_CALL
    RTPatchApply32(const char* commandLine, rtp::Callback callback, uint32_t wait) {
  (void)wait;
  Stamp("apply_entry");
  if (kReturnAtOnce) return rtp::kOk;
  if (!callback) return rtp::kErrCommandLine;
  CallbackListener listener(callback);
  const uint32_t result = Apply(commandLine, listener);
  StampCallbacks(listener);
  Stamp("apply_return");
  return result;
}
#endif

#ifndef PATCHW32_NO_APPLY
static_assert(std::is_same_v<decltype(&RTPatchApply32), rtp::ApplyFn>, "RTPatchApply32 is the interface's");
#endif

#ifndef PATCHW32_NO_COST
// Reports what applying the patch costs (see rtp::PatchCost). Each result pointer may be null. 0 on
// success, otherwise an error number, with the results left as they were.
extern "C" __declspec(dllexport) uint32_t RTPATCH_CALL
    RTPatchGetCost(const wchar_t* patchPath, uint32_t* biggestSz, uint32_t* newSystemSz,
                   uint32_t* oldSystemSz, uint32_t* numFiles, uint32_t zero) {
  (void)zero;
  if (!patchPath) return rtp::kErrCommandLine;
  std::unique_ptr<rtp::Source> file;
  if (const uint32_t failed = OpenPatch(patchPath, &file)) return failed;
  rtp::PatchCost cost;
  rtp::FormatError error;
  if (!rtp::ReadPatchCost(*file, &cost, &error)) return error.number;
  if (biggestSz) *biggestSz = cost.biggest;
  if (newSystemSz) *newSystemSz = cost.newSize;
  if (oldSystemSz) *oldSystemSz = cost.oldSize;
  if (numFiles) *numFiles = cost.files;
  return rtp::kOk;
}
static_assert(std::is_same_v<decltype(&RTPatchGetCost), rtp::GetCostFn>, "RTPatchGetCost is the interface's");
#endif
