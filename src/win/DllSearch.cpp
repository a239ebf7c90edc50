#include "win/DllSearch.h"

#include <string>

namespace {

// Older systems without the search-flags update refuse these flags with ERROR_INVALID_PARAMETER.
bool HasSearchFlags() {
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  return kernel != nullptr && ::GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

}  // namespace

void RestrictDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
                                 ::GetProcAddress(kernel, "SetDefaultDllDirectories")))
                           : nullptr;
  if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    ::SetDllDirectoryW(L"");  // at least not the current folder
  }
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  if (HasSearchFlags()) return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  wchar_t folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  return ::LoadLibraryW((std::wstring(folder) + L"\\" + name).c_str());
}

HMODULE LoadLibraryFromItsFolder(const wchar_t* path) {
  if (HasSearchFlags()) {
    return ::LoadLibraryExW(path, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
