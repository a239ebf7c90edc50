// Stands in for programs the installer hands over to: the game client it launches and the browser that
// opens an error report. It appends its command line (UTF-8, one line) to the file named by the
// environment variable TESSERINE_RECORD, or to "<its own path>.log", and exits at once.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  wchar_t target[MAX_PATH + 8] = {};
  if (::GetEnvironmentVariableW(L"TESSERINE_RECORD", target, MAX_PATH) == 0) {
    ::GetModuleFileNameW(nullptr, target, MAX_PATH);
    lstrcatW(target, L".log");
  }
  std::wstring line = ::GetCommandLineW();
  line += L"\n";
  int bytes = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &utf8[0], bytes, nullptr,
                        nullptr);
  HANDLE file = ::CreateFileW(target, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  ::WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  ::CloseHandle(file);
  return 0;
}
