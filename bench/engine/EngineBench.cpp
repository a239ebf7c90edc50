// engine_bench: applies one patch to one client folder and reports what it cost, one "key value" a line.
// On Windows it loads the engine library by its full path and calls it exactly as the installer does
// (LoadLibraryW, GetProcAddress of RTPatchApply32@12, a callback that answers with an empty text), and
// reports its own peak private memory and peak working set. Natively it runs the engine's code on the
// POSIX client folder and reports the peak resident set. A program that reports figures, not a test.
//   engine_bench PATCHW32.DLL CLIENT_DIR PATCH     (Windows)
//   engine_bench CLIENT_DIR PATCH                  (native)
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "engine/EngineAbi.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <string>

namespace {

char gGoOn[] = "";

void* RTPATCH_CALL GoOn(uint32_t, void*) {
  return gGoOn;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The largest private memory and working set seen. Wine reports the current private memory as the
// peak too, so a thread also samples it while the engine runs.
struct Peaks {
  uint64_t privateBytes = 0;
  uint64_t workingSet = 0;
  void Sample() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return;
    privateBytes = std::max<uint64_t>({privateBytes, counters.PeakPagefileUsage, counters.PagefileUsage});
    workingSet = std::max<uint64_t>({workingSet, counters.PeakWorkingSetSize, counters.WorkingSetSize});
  }
  void Print(const char* prefix) const {
    std::printf("%speak_private_bytes %" PRIu64 "\n", prefix, privateBytes);
    std::printf("%speak_working_set_bytes %" PRIu64 "\n", prefix, workingSet);
  }
};

constexpr DWORD kSampleMs = 5;
Peaks gPeaks;
volatile LONG gDone = 0;

DWORD WINAPI SampleMemory(void*) {
  while (!::InterlockedCompareExchange(&gDone, 0, 0)) {
    gPeaks.Sample();
    ::Sleep(kSampleMs);
  }
  return 0;
}

std::string Ansi(const wchar_t* text) {
  const int length = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string out(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], length, nullptr, nullptr);
  out.resize(static_cast<size_t>(length - 1));
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: engine_bench PATCHW32.DLL CLIENT_DIR PATCH\n");
    return 2;
  }
  HMODULE engine = ::LoadLibraryW(argv[1]);
  if (!engine) {
    std::fprintf(stderr, "engine_bench: cannot load the engine (%lu)\n", ::GetLastError());
    return 1;
  }
  const auto apply =
      reinterpret_cast<rtp::ApplyFn>(reinterpret_cast<void*>(::GetProcAddress(engine, rtp::kApplyEntry)));
  if (!apply) {
    std::fprintf(stderr, "engine_bench: the engine lacks %s\n", rtp::kApplyEntry);
    return 1;
  }
  // The installer's command line: the client folder and the patch, the second without its closing quote.
  const std::string text = "\"" + Ansi(argv[2]) + "\" \"" + Ansi(argv[3]);
  char commandLine[rtp::kCommandLineSize] = {};
  std::strncpy(commandLine, text.c_str(), sizeof commandLine - 1);

  gPeaks.Sample();
  gPeaks.Print("before_");
  const HANDLE sampler = ::CreateThread(nullptr, 0, SampleMemory, nullptr, 0, nullptr);
  LARGE_INTEGER start, end;
  ::QueryPerformanceCounter(&start);
  const uint32_t result = apply(commandLine, GoOn, 1);
  ::QueryPerformanceCounter(&end);
  ::InterlockedExchange(&gDone, 1);
  if (sampler) {
    ::WaitForSingleObject(sampler, INFINITE);
    ::CloseHandle(sampler);
  }
  gPeaks.Sample();
  std::printf("result %u\n", result);
  std::printf("seconds %.3f\n", Seconds(start, end));
  gPeaks.Print("");
  ::FreeLibrary(engine);
  return result == 0 ? 0 : 1;
}

#else
#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include "engine/apply/Apply.h"
#include "engine/fs/PosixFileSystem.h"

namespace {

class Quiet : public rtp::Listener {
 public:
  bool Notify(uint32_t, void*) override { return true; }
};

// The peak resident set from /proc/self/status (VmHWM, in KiB there).
uint64_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  uint64_t value = 0;
  while (status >> key) {
    if (key == "VmHWM:" && status >> value) return value * 1024;
    status.ignore(4096, '\n');
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: engine_bench CLIENT_DIR PATCH\n");
    return 2;
  }
  std::unique_ptr<rtp::Source> patch;
  if (rtp::OpenHostFile(argv[2], &patch) != rtp::FsStatus::Ok) {
    std::fprintf(stderr, "engine_bench: cannot open %s\n", argv[2]);
    return 1;
  }
  rtp::PosixFileSystem client(argv[1]);
  Quiet listener;
  std::printf("before_peak_working_set_bytes %" PRIu64 "\n", PeakResidentBytes());
  const auto start = std::chrono::steady_clock::now();
  const uint32_t result = rtp::ApplyPatch(*patch, client, listener);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("result %u\n", result);
  std::printf("seconds %.3f\n", elapsed.count());
  std::printf("peak_working_set_bytes %" PRIu64 "\n", PeakResidentBytes());
  return result == 0 ? 0 : 1;
}
#endif
