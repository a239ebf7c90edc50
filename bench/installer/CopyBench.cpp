// copy_bench: what copying a file costs on this machine without the installer, as references for its
// extraction: the bare loop of 8092-byte ReadFile/WriteFile calls the installer's extraction is built
// on, and CopyFileW. Both write into the user's temporary folder, as the installer does, and delete what
// they wrote. Prints one "key value" a line: loop_seconds, copyfile_seconds, bytes.
// A program that reports figures, not a test.
//   copy_bench SOURCE
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "framework/Handle.h"

namespace {

// The installer's copy buffer, not 8192.
constexpr DWORD kCopyBufferSize = 8092;

class Clock {
 public:
  Clock() { ::QueryPerformanceCounter(&mStart); }
  double Seconds() const {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - mStart.QuadPart) / static_cast<double>(frequency.QuadPart);
  }

 private:
  LARGE_INTEGER mStart;
};

// Copies source to target through the buffer; the bytes copied, or -1 when a call failed.
int64_t CopyLoop(const std::wstring& source, const std::wstring& target) {
  CHandle in(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  CHandle out(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kCopyBufferSize]);
  if (!in || !out || !buffer) return -1;
  int64_t copied = 0;
  for (;;) {
    DWORD read = 0, written = 0;
    if (!::ReadFile(in.Get(), buffer.get(), kCopyBufferSize, &read, nullptr)) return -1;
    if (read == 0) break;
    if (!::WriteFile(out.Get(), buffer.get(), read, &written, nullptr) || written != read) return -1;
    copied += read;
  }
  return out.Close() ? copied : -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: copy_bench SOURCE\n");
    return 2;
  }
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) {
    std::fprintf(stderr, "copy_bench: no temporary folder\n");
    return 1;
  }
  const std::wstring target = std::wstring(folder) + L"copy_bench.tmp";

  const Clock loopClock;
  const int64_t copied = CopyLoop(argv[1], target);
  const double loopSeconds = loopClock.Seconds();
  ::DeleteFileW(target.c_str());
  if (copied < 0) {
    std::fprintf(stderr, "copy_bench: the loop failed (%lu)\n", ::GetLastError());
    return 1;
  }

  const Clock copyClock;
  const BOOL ok = ::CopyFileW(argv[1], target.c_str(), FALSE);
  const double copySeconds = copyClock.Seconds();
  ::DeleteFileW(target.c_str());
  if (!ok) {
    std::fprintf(stderr, "copy_bench: CopyFileW failed (%lu)\n", ::GetLastError());
    return 1;
  }
  std::printf("bytes %lld\n", static_cast<long long>(copied));
  std::printf("loop_seconds %.3f\n", loopSeconds);
  std::printf("copyfile_seconds %.3f\n", copySeconds);
  return 0;
}
