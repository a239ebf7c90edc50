#include "win/TempFolder.h"

#include <windows.h>

#include <cstdlib>

#include "rules/Format.h"

bool CTempFolder::MakeFolder(std::wstring* made) {
  // Names follow the runtime's temporary names ("s" + process id + "." + number, base 32), but an
  // existing folder is never reused: another program's files must not be mixed with ours.
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  made->clear();
  if (length == 0 || length > MAX_PATH) return false;
  wchar_t pid[16] = {};
  _ultow(::GetCurrentProcessId(), pid, 32);
  for (unsigned long n = 1; n < 100000; ++n) {
    wchar_t sequence[16] = {};
    _ultow(n, sequence, 32);
    std::wstring folder = FormatText(L"%s\\s%s.%s\\", {temp, pid, sequence});
    // The temporary folder ends in a backslash and the name starts with one.
    for (size_t at = folder.find(L"\\\\"); at != std::wstring::npos; at = folder.find(L"\\\\", at)) {
      folder.erase(at, 1);
    }
    *made = folder;
    if (::CreateDirectoryW(folder.c_str(), nullptr)) return true;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool CTempFolder::Create(const std::wstring& path) {
  mFile.Attach(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return mFile.IsValid();
}

bool CTempFolder::Write(const void* bytes, uint32_t length, uint32_t* error) {
  DWORD written = 0;
  if (::WriteFile(mFile.Get(), bytes, length, &written, nullptr) && written == length) return true;
  // A write that stops short without an error is a full disk.
  *error = ::GetLastError() != ERROR_SUCCESS ? ::GetLastError() : ERROR_DISK_FULL;
  return false;
}

void CTempFolder::Delete(const std::wstring& path) {
  ::DeleteFileW(path.c_str());
}

void CTempFolder::RemoveFolder(const std::wstring& folder) {
  ::RemoveDirectoryW(folder.c_str());
}
