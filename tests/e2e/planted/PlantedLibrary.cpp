// A library planted beside the installer: when anything loads it, it leaves a marker file (named by
// TESSERINE_PLANTED_MARKER) so the test can tell which. It stands in for a helper the engine imports and,
// under another name, for a system library.
#include <windows.h>

#include <string>

extern "C" __declspec(dllexport) int PlantedHelper() {
  return 1;
}

// The marker is a folder: the library leaves a file there named after the name it was loaded under.
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t folder[MAX_PATH] = {};
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"TESSERINE_PLANTED_MARKER", folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || ::GetModuleFileNameW(self, path, MAX_PATH) == 0) return TRUE;
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p != L'\0'; ++p) {
    if (*p == L'\\' || *p == L'/') name = p + 1;
  }
  const std::wstring marker = std::wstring(folder) + L"\\" + name;
  HANDLE file =
      ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  return TRUE;
}
