#include "win/DllSearch.h"

#include <string>

#include "win/KernelFunction.h"

namespace {

// Older systems without the search-flags update refuse these flags with ERROR_INVALID_PARAMETER.
bool HasSearchFlags() {
  return KernelFunction<FARPROC>("AddDllDirectory") != nullptr;
}

// Libraries that system libraries load by bare name when first needed: themes, the window manager,
// version information, cryptography, the rich edit control's engine, the shell's helpers. Without the
// search flags the application's folder comes first for them, so they are loaded from the system folder
// before anything else and kept for the life of the process: a later load by name finds them loaded.
constexpr const wchar_t* kLoadedOnDemand[] = {
    L"uxtheme.dll",  L"dwmapi.dll",  L"version.dll", L"cryptbase.dll", L"cryptsp.dll", L"rsaenh.dll",
    L"riched20.dll", L"propsys.dll", L"profapi.dll", L"ntmarta.dll",   L"sspicli.dll", L"secur32.dll",
    L"userenv.dll",  L"apphelp.dll", L"winmm.dll",   L"msimg32.dll",   L"mpr.dll",     L"linkinfo.dll",
    L"ntshrui.dll",  L"srvcli.dll",  L"cscapi.dll",  L"wtsapi32.dll",  L"sxs.dll",     L"dbghelp.dll",
};

// Libraries that system libraries delay-load while the installer's window is drawn. Wine looks for a
// delay-loaded library beside the program even when the search is restricted (uxtheme's msimg32, when
// it first draws a themed control), so they are loaded from the system folder before any window exists.
constexpr const wchar_t* kLoadedWhileDrawing[] = {L"msimg32.dll"};

}  // namespace

void RestrictDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const auto setDefault = KernelFunction<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
  if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    for (const wchar_t* name : kLoadedWhileDrawing) LoadSystemLibrary(name);
    return;
  }
  ::SetDllDirectoryW(L"");  // at least not the current folder
  for (const wchar_t* name : kLoadedOnDemand) LoadSystemLibrary(name);
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
