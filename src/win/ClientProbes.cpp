#include "win/ClientProbes.h"

#include <windows.h>
#include <shellapi.h>

#include "engine/fs/WinFileSystem.h"
#include "engine/journal/Transaction.h"
#include "framework/Handle.h"
#include "rules/PathRules.h"
#include "rules/Product.h"
#include "win/KernelFunction.h"
#include "win/Restart.h"
#include "win/UserShell.h"

namespace {

const int kCloseAttempts = 3;
const DWORD kCloseWaitMs = 100;
const uint64_t kBytesPerMB = 1048576;

bool IsFile(const std::wstring& path) {
  // No access at all: the open only proves that the file is there. Without backup semantics a
  // directory cannot be opened, so a directory named like the client is not taken for it.
  CHandle file(::CreateFileW(path.c_str(), 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.IsValid();
}

}  // namespace

bool IsClientFolder(const std::wstring& folder) {
  for (const wchar_t* name : rules::ClientExecutables) {
    if (IsFile(rules::JoinPath(folder, name))) return true;
  }
  return false;
}

bool CloseRunningClient() {
  for (int attempt = 0; attempt < kCloseAttempts; ++attempt) {
    HWND client = ::FindWindowW(rules::ClientWindowClass, nullptr);
    if (client == nullptr) return true;
    // A synchronous send: the client's window procedure has handled the request when it returns.
    ::SendMessageW(client, WM_CLOSE, 0, 0);
    ::Sleep(kCloseWaitMs);
  }
  return ::FindWindowW(rules::ClientWindowClass, nullptr) == nullptr;
}

bool RecoverInterruptedPatch(const std::wstring& folder) {
  rtp::WinFileSystem client(folder);
  return rtp::RecoverInterruptedRun(client).what != rtp::Recovery::Failed;
}

uint32_t ReadBuildFile(const std::wstring& path) {
  CHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 0;
  char buf[rules::kBuildFileBytes];
  DWORD read = 0;
  if (!::ReadFile(file.Get(), buf, sizeof(buf), &read, nullptr)) return 0;
  return rules::ParseBuildValue(buf, read);
}

uint32_t GetFreeDiskSpaceMB(const std::wstring& folder) {
  using GetDiskFreeSpaceExFn = BOOL(WINAPI*)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  // Looked up at run time: the extended query is missing from the oldest systems.
  const auto getDiskFreeSpaceEx = KernelFunction<GetDiskFreeSpaceExFn>("GetDiskFreeSpaceExW");
  if (getDiskFreeSpaceEx) {
    ULARGE_INTEGER available{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER free{};
    if (!getDiskFreeSpaceEx(folder.c_str(), &available, &total, &free)) return 0;
    return static_cast<uint32_t>(available.QuadPart / kBytesPerMB);
  }
  DWORD sectorsPerCluster = 0;
  DWORD bytesPerSector = 0;
  DWORD freeClusters = 0;
  DWORD totalClusters = 0;
  if (!::GetDiskFreeSpaceW(folder.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &totalClusters)) {
    return 0;
  }
  const uint64_t freeBytes = uint64_t{freeClusters} * sectorsPerCluster * bytesPerSector;
  return static_cast<uint32_t>(freeBytes / kBytesPerMB);
}

void TouchFile(const std::wstring& path) {
  CHandle file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  ::SetFileTime(file.Get(), &now, &now, &now);
}

bool CWinProbes::IsClientFolder(const std::wstring& folder) {
  return ::IsClientFolder(folder);
}

bool CWinProbes::CloseRunningClient() {
  return ::CloseRunningClient();
}

bool CWinProbes::RecoverInterruptedPatch(const std::wstring& folder) {
  return ::RecoverInterruptedPatch(folder);
}

uint32_t CWinProbes::ReadBuildFile(const std::wstring& path) {
  return ::ReadBuildFile(path);
}

uint32_t CWinProbes::GetFreeDiskSpaceMB(const std::wstring& folder) {
  return ::GetFreeDiskSpaceMB(folder);
}

namespace {

ShortPathLookup gShortPathLookup = ::GetShortPathNameW;

}  // namespace

ShortPathLookup SetShortPathLookup(ShortPathLookup lookup) {
  const ShortPathLookup previous = gShortPathLookup;
  gShortPathLookup = lookup ? lookup : ::GetShortPathNameW;
  return previous;
}

std::wstring CWinProbes::ShortPath(const std::wstring& path) {
  const DWORD length = gShortPathLookup(path.c_str(), nullptr, 0);
  if (length == 0) return std::wstring();
  std::wstring shortPath(length, L'\0');
  const DWORD written = gShortPathLookup(path.c_str(), &shortPath[0], length);
  if (written == 0 || written >= length) return std::wstring();
  shortPath.resize(written);
  return shortPath;
}

void CWinProbes::TouchFile(const std::wstring& path) {
  ::TouchFile(path);
}

void CWinSystemActions::Open(const std::wstring& target) {
  OpenAsUser(target);
}

void CWinSystemActions::RequestSystemRestart() {
  ::RequestSystemRestart();
}

void CWinSystemActions::Trace(const std::wstring& text) {
  mDebugOutput.Write(text);
}
