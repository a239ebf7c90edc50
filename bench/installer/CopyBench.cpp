// copy_bench: what copying costs on this machine without the installer, as references for its extraction
// and for the engine: the bare loop of 8092-byte ReadFile/WriteFile calls the installer's extraction is
// built on, the same loop flushing each file it wrote (FlushFileBuffers, as the engine's commit puts
// every file on the disk), and CopyFileW. All write into the user's temporary folder, as the installer
// does, and delete what they wrote. SOURCE is a file, or a folder whose files are all copied (the new
// client a patch run writes). Prints one "key value" a line: loop_seconds, flushed_loop_seconds,
// copyfile_seconds, bytes, files.
// A program that reports figures, not a test.
//   copy_bench SOURCE
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "winbase/Handle.h"

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

// Copies source to target through the buffer, flushing it before it is closed when asked; the bytes
// copied, or -1 when a call failed.
int64_t CopyLoop(const std::wstring& source, const std::wstring& target, bool flush) {
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
  if (flush && !::FlushFileBuffers(out.Get())) return -1;
  return out.Close() ? copied : -1;
}

// The files under `folder`, as paths relative to it.
bool ListFiles(const std::wstring& folder, const std::wstring& under, std::vector<std::wstring>* files) {
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW((folder + L"\\" + under + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ok = ListFiles(folder, under + name + L"\\", files) && ok;
    else
      files->push_back(under + name);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return ok;
}

// The folders the files lie in, parents before children.
std::vector<std::wstring> FoldersOf(const std::vector<std::wstring>& files) {
  std::set<std::wstring> folders;
  for (const std::wstring& file : files) {
    for (size_t slash = file.find(L'\\'); slash != std::wstring::npos; slash = file.find(L'\\', slash + 1))
      folders.insert(file.substr(0, slash));
  }
  return std::vector<std::wstring>(folders.begin(), folders.end());
}

// Copies every file with `copy` into `target` (made first, untimed, with its folders); false when one
// copy failed.
template <class Copy>
bool CopyAll(const std::wstring& source, const std::wstring& target, const std::vector<std::wstring>& files,
             double* seconds, Copy copy) {
  ::CreateDirectoryW(target.c_str(), nullptr);
  for (const std::wstring& folder : FoldersOf(files))
    ::CreateDirectoryW((target + L"\\" + folder).c_str(), nullptr);
  const Clock clock;
  bool ok = true;
  for (const std::wstring& file : files) ok = copy(source + L"\\" + file, target + L"\\" + file) && ok;
  *seconds = clock.Seconds();
  return ok;
}

// Deletes what a copy wrote.
void RemoveCopy(const std::wstring& target, const std::vector<std::wstring>& files) {
  for (const std::wstring& file : files) ::DeleteFileW((target + L"\\" + file).c_str());
  const std::vector<std::wstring> folders = FoldersOf(files);
  for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
    ::RemoveDirectoryW((target + L"\\" + *folder).c_str());
  ::RemoveDirectoryW(target.c_str());
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
  // A single file is copied as the one file of its folder.
  std::wstring source = argv[1];
  const DWORD attributes = ::GetFileAttributesW(source.c_str());
  std::vector<std::wstring> files;
  const size_t slash = source.find_last_of(L"\\/");
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      slash != std::wstring::npos) {
    files.push_back(source.substr(slash + 1));
    source.resize(slash);
  } else if (attributes == INVALID_FILE_ATTRIBUTES || !ListFiles(source, L"", &files)) {
    std::fprintf(stderr, "copy_bench: cannot read %ls\n", source.c_str());
    return 1;
  }
  const std::wstring target = std::wstring(folder) + L"copy_bench.tmp";

  int64_t copied = 0;
  double loopSeconds = 0, flushedSeconds = 0;
  for (bool flush : {false, true}) {
    const bool looped = CopyAll(source, target, files, flush ? &flushedSeconds : &loopSeconds,
                                [&](const std::wstring& from, const std::wstring& to) {
                                  const int64_t bytes = CopyLoop(from, to, flush);
                                  if (!flush) copied += bytes;
                                  return bytes >= 0;
                                });
    RemoveCopy(target, files);
    if (!looped) {
      std::fprintf(stderr, "copy_bench: the loop failed (%lu)\n", ::GetLastError());
      return 1;
    }
  }

  double copySeconds = 0;
  const bool ok =
      CopyAll(source, target, files, &copySeconds, [](const std::wstring& from, const std::wstring& to) {
        return ::CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
      });
  RemoveCopy(target, files);
  if (!ok) {
    std::fprintf(stderr, "copy_bench: CopyFileW failed (%lu)\n", ::GetLastError());
    return 1;
  }
  std::printf("files %u\n", static_cast<unsigned>(files.size()));
  std::printf("bytes %lld\n", static_cast<long long>(copied));
  std::printf("loop_seconds %.3f\n", loopSeconds);
  std::printf("flushed_loop_seconds %.3f\n", flushedSeconds);
  std::printf("copyfile_seconds %.3f\n", copySeconds);
  return 0;
}
