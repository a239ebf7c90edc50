// A library planted beside the installer: when anything loads it, it leaves a marker file (named by
// TESSERINE_PLANTED_MARKER) so the test can tell. It stands in for a helper the engine imports and, under
// another name, for a system library.
#include <windows.h>

extern "C" __declspec(dllexport) int PlantedHelper() {
  return 1;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t marker[MAX_PATH] = {};
  if (::GetEnvironmentVariableW(L"TESSERINE_PLANTED_MARKER", marker, MAX_PATH) == 0) return TRUE;
  HANDLE file =
      ::CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  return TRUE;
}
