// installer_bench: drives a packed installer (or any dialog program) from outside, as a user would, and
// reports what it cost, one "key value" a line. A program that reports figures, not a test.
//
//   installer_bench startup PROGRAM [ARGS]
//       seconds: from starting the program until its dialog is visible and answers a message.
//   installer_bench extract INSTALLER CLIENT STAMP_FILE
//   installer_bench run INSTALLER CLIENT STAMP_FILE
//       Starts the installer on the client folder, presses start and waits for the engine library's stamps
//       (a benchmark variant of patchw32.dll writes "apply_entry COUNTER" and "apply_return COUNTER" to the
//       file named by TESSERINE_STAMP_FILE; the performance counter is one clock for every process).
//       extract: seconds from the press to the engine's entry (the engine returns at once);
//       run: seconds from the engine's entry to its return, the time spent in the installer's callback
//       and its calls (stamped by the engine when it returns), and whether the finished page came.
//       Meanwhile the dialog is sent WM_NULL every kProbeIntervalMs and the answer's latency kept; the
//       figures cover the probes sent in the measured span (ui_p50_ms, ui_p99_ms, ui_max_ms). The
//       installer's peak private memory and peak working set are read from outside before it exits.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Driver.h"
#include "framework/Handle.h"

namespace {

constexpr DWORD kProbeIntervalMs = 25;
constexpr UINT kProbeTimeoutMs = 10000;
constexpr DWORD kDialogWaitMs = 60000;
constexpr DWORD kMessageBoxCheckMs = 250;
constexpr DWORD kStampCheckMs = 100;  // the stamps hold the exact times: this only ends the probing
constexpr DWORD kRunLimitMs = 3 * 3600 * 1000;
constexpr int kFinishedPageButton = 1016;  // the launch button shows only on the finished page

int64_t Now() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now.QuadPart;
}

double Seconds(int64_t ticks) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

// The stamp's value, or 0 while the file does not hold it.
int64_t ReadStamp(const std::wstring& path, const std::string& name) {
  CHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 0;
  char text[512];
  DWORD read = 0;
  if (!::ReadFile(file.Get(), text, sizeof text - 1, &read, nullptr)) return 0;
  text[read] = '\0';
  const std::string lines(text);
  const std::string key = name + " ";
  for (size_t at = 0; at < lines.size();) {
    const size_t end = lines.find('\n', at);
    if (end == std::string::npos) break;  // a line still being written
    if (lines.compare(at, key.size(), key) == 0)
      return std::strtoll(lines.c_str() + at + key.size(), nullptr, 10);
    at = end + 1;
  }
  return 0;
}

struct Probe {
  int64_t sent;
  double ms;
};

// Sends WM_NULL and waits for the answer: what a user's click waits before the dialog takes it.
Probe ProbeDialog(HWND dialog) {
  Probe probe{Now(), 0};
  DWORD_PTR result = 0;
  ::SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, kProbeTimeoutMs, &result);
  probe.ms = Seconds(Now() - probe.sent) * 1000.0;
  return probe;
}

struct Peaks {
  uint64_t privateBytes = 0;
  uint64_t workingSet = 0;
  // Wine keeps the current private memory as the peak too, so the process is sampled all along.
  void Sample(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(process, &counters, sizeof counters)) return;
    privateBytes = std::max<uint64_t>({privateBytes, counters.PeakPagefileUsage, counters.PagefileUsage});
    workingSet = std::max<uint64_t>({workingSet, counters.PeakWorkingSetSize, counters.WorkingSetSize});
  }
};

// The nearest-rank percentile of the latencies of the probes sent in [from, to].
double Percentile(const std::vector<Probe>& probes, int64_t from, int64_t to, double share) {
  std::vector<double> ms;
  for (const Probe& probe : probes) {
    if (probe.sent >= from && probe.sent <= to) ms.push_back(probe.ms);
  }
  if (ms.empty()) return 0;
  std::sort(ms.begin(), ms.end());
  const size_t rank = static_cast<size_t>(std::ceil(share * static_cast<double>(ms.size())));
  return ms[std::min(ms.size(), std::max<size_t>(rank, 1)) - 1];
}

size_t Count(const std::vector<Probe>& probes, int64_t from, int64_t to) {
  return static_cast<size_t>(std::count_if(probes.begin(), probes.end(),
                                           [&](const Probe& p) { return p.sent >= from && p.sent <= to; }));
}

void Close(e2e::Installer& app) {
  app.SendCommand(IDCANCEL);
  if (!app.WaitForExit(10000)) app.Terminate();
}

int Startup(const std::wstring& program, const std::wstring& args) {
  const int64_t start = Now();
  std::wstring error;
  auto app = e2e::Installer::Start(program, args, &error);
  if (!app || !app->WaitForDialog(kDialogWaitMs)) {
    std::fprintf(stderr, "installer_bench: no dialog: %s\n", e2e::Utf8(error).c_str());
    return 1;
  }
  ProbeDialog(app->Dialog());
  const int64_t shown = Now();
  std::printf("seconds %.3f\n", Seconds(shown - start));
  Close(*app);
  return 0;
}

int Drive(bool extractOnly, const std::wstring& installer, const std::wstring& client,
          const std::wstring& stamps) {
  ::DeleteFileW(stamps.c_str());
  e2e::StartOptions options;
  options.args = L"path=\"" + client + L"\"";
  options.env = {{L"TESSERINE_STAMP_FILE", stamps}};
  std::wstring error;
  auto app = e2e::Installer::Start(installer, options, &error);
  if (!app || !app->WaitForDialog(kDialogWaitMs)) {
    std::fprintf(stderr, "installer_bench: no dialog: %s\n", e2e::Utf8(error).c_str());
    return 1;
  }
  Peaks peaks;
  std::vector<Probe> probes;
  probes.reserve(1 << 16);
  const int64_t pressed = Now();
  if (!app->Click(IDOK)) {
    std::fprintf(stderr, "installer_bench: cannot press start\n%s\n", e2e::Utf8(app->Describe()).c_str());
    return 1;
  }
  int64_t entry = 0, done = 0;
  const DWORD startTick = ::GetTickCount();
  DWORD lastBoxCheck = startTick, lastStampCheck = startTick - kStampCheckMs;
  while (!done) {
    probes.push_back(ProbeDialog(app->Dialog()));
    const DWORD tick = ::GetTickCount();
    // Each look asks the window system several times, as the engine's file work does: not too often.
    if (tick - lastStampCheck >= kStampCheckMs) {
      lastStampCheck = tick;
      peaks.Sample(app->Process());
      if (!entry) entry = ReadStamp(stamps, "apply_entry");
      done = extractOnly ? entry : ReadStamp(stamps, "apply_return");
      if (done) break;
    }
    if (tick - lastBoxCheck >= kMessageBoxCheckMs) {
      lastBoxCheck = tick;
      if (auto box = app->FindMessageBox()) {
        std::fprintf(stderr, "installer_bench: a message box: %s\n", e2e::Utf8(box->text).c_str());
        return 1;
      }
      if (!app->Running() || tick - startTick > kRunLimitMs) {
        std::fprintf(stderr, "installer_bench: the installer ended or took too long\n");
        return 1;
      }
    }
    ::Sleep(kProbeIntervalMs);
  }
  bool finished = false;
  if (!extractOnly) {
    finished = app->WaitUntil(
        [&] {
          peaks.Sample(app->Process());
          return app->Visible(kFinishedPageButton);
        },
        kDialogWaitMs);
  }
  peaks.Sample(app->Process());
  const int64_t from = extractOnly ? pressed : entry;
  std::printf("press_to_entry_seconds %.3f\n", Seconds(entry - pressed));
  if (!extractOnly) {
    std::printf("apply_seconds %.3f\n", Seconds(done - entry));
    std::printf("callback_seconds %.3f\n", Seconds(ReadStamp(stamps, "callback_ticks")));
    std::printf("callback_calls %lld\n", static_cast<long long>(ReadStamp(stamps, "callback_calls")));
    std::printf("finished %s\n", finished ? "yes" : "no");
  }
  std::printf("ui_probes %u\n", static_cast<unsigned>(Count(probes, from, done)));
  std::printf("ui_p50_ms %.1f\n", Percentile(probes, from, done, 0.50));
  std::printf("ui_p99_ms %.1f\n", Percentile(probes, from, done, 0.99));
  std::printf("ui_max_ms %.1f\n", Percentile(probes, from, done, 1.0));
  std::printf("peak_private_bytes %llu\n", static_cast<unsigned long long>(peaks.privateBytes));
  std::printf("peak_working_set_bytes %llu\n", static_cast<unsigned long long>(peaks.workingSet));
  Close(*app);
  return extractOnly || finished ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"startup" && (argc == 3 || argc == 4)) return Startup(argv[2], argc == 4 ? argv[3] : L"");
  if ((mode == L"extract" || mode == L"run") && argc == 5)
    return Drive(mode == L"extract", argv[2], argv[3], argv[4]);
  std::fprintf(stderr,
               "usage: installer_bench startup PROGRAM [ARGS]\n"
               "       installer_bench extract|run INSTALLER CLIENT STAMP_FILE\n");
  return 2;
}
