// patchw32_stamp.dll and patchw32_instant.dll (PATCHW32_RETURN_AT_ONCE) for scripts/bench.sh: the engine
// library's entry points, with RTPatchApply32 stamping its entry, its return and the time spent in the
// caller's callback (with the number of calls) into the file named by TESSERINE_STAMP_FILE. The
// performance counter is one clock for every process of the machine, so the benchmark driving the
// installer from another process sets these stamps against its own. The instant one returns right after
// its entry stamp.
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "engine/dll/EngineEntry.h"
#include "winbase/Handle.h"

namespace {

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

int64_t Now() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// Counts the calls of the caller's callback and the time spent in it.
class TimedListener : public rtp::CallbackListener {
 public:
  using CallbackListener::CallbackListener;
  bool Notify(uint32_t id, void* param) override {
    const int64_t before = Now();
    const bool goOn = CallbackListener::Notify(id, param);
    ticks += Now() - before;
    calls += 1;
    return goOn;
  }
  int64_t ticks = 0;
  int64_t calls = 0;
};

}  // namespace

extern "C" __declspec(dllexport) uint32_t RTPATCH_CALL
    RTPatchApply32(const char* commandLine, rtp::Callback callback, uint32_t) {
  Stamp("apply_entry", Now());
#ifdef PATCHW32_RETURN_AT_ONCE
  (void)commandLine;
  (void)callback;
  return rtp::kOk;
#else
  if (!callback) return rtp::kErrCommandLine;
  TimedListener listener(callback);
  const uint32_t result = rtp::ApplyCommandLine(commandLine, listener);
  Stamp("callback_ticks", listener.ticks);
  Stamp("callback_calls", listener.calls);
  Stamp("apply_return", Now());
  return result;
#endif
}

extern "C" __declspec(dllexport) uint32_t RTPATCH_CALL
    RTPatchGetCost(const wchar_t* patchPath, uint32_t* biggestSz, uint32_t* newSystemSz,
                   uint32_t* oldSystemSz, uint32_t* numFiles, uint32_t) {
  return rtp::CostOfPatch(patchPath, biggestSz, newSystemSz, oldSystemSz, numFiles);
}
