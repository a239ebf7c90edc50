#include "win/UserShell.h"

#include <windows.h>
#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "framework/ComRef.h"
#include "win/Elevation.h"

namespace {

VARIANT Text(const CBstr& text) {
  VARIANT value;
  ::VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = text.Get();
  return value;
}

// The desktop's folder view leads to the shell's own automation object, which runs in Explorer's process.
// A shell that is itself elevated (no split token, or everything elevated as under Wine) has no lower
// rights to give: the installer then opens the target itself and it keeps the installer's environment.
bool OpenThroughExplorer(const std::wstring& target, const std::wstring& folder) {
  if (!DesktopShellRunsUnelevated()) return false;
  CComRef<IShellWindows> windows;
  if (FAILED(::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.OutVoid())))
    return false;
  VARIANT none;
  ::VariantInit(&none);
  long window = 0;
  CComRef<IDispatch> desktop;
  if (windows->FindWindowSW(&none, &none, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop.Out()) != S_OK ||
      !desktop)
    return false;
  CComRef<IServiceProvider> services;
  CComRef<IShellBrowser> browser;
  CComRef<IShellView> view;
  CComRef<IDispatch> background;
  CComRef<IShellFolderViewDual> folderView;
  CComRef<IDispatch> application;
  CComRef<IShellDispatch2> shell;
  if (FAILED(desktop->QueryInterface(IID_IServiceProvider, services.OutVoid())) ||
      FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.OutVoid())) ||
      FAILED(browser->QueryActiveShellView(view.Out())) ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.OutVoid())) ||
      FAILED(background->QueryInterface(IID_IShellFolderViewDual, folderView.OutVoid())) ||
      FAILED(folderView->get_Application(application.Out())) ||
      FAILED(application->QueryInterface(IID_IShellDispatch2, shell.OutVoid())))
    return false;
  const CBstr file(target), directory(folder);
  VARIANT empty;
  ::VariantInit(&empty);
  VARIANT show;
  ::VariantInit(&show);
  show.vt = VT_I4;
  show.lVal = SW_SHOWNORMAL;
  return SUCCEEDED(
      shell->ShellExecute(file.Get(), empty, folder.empty() ? empty : Text(directory), empty, show));
}

DesktopShellOpen gDesktopShellOpen = OpenThroughExplorer;

// A program's own folder, for it to start in; none for an address.
std::wstring FolderOf(const std::wstring& target) {
  if (target.find(L"://") != std::wstring::npos) return std::wstring();
  const size_t slash = target.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : target.substr(0, slash);
}

}  // namespace

void OpenAsUser(const std::wstring& target) {
  if (IsProcessElevated() && gDesktopShellOpen(target, FolderOf(target))) return;
  ::ShellExecuteW(nullptr, nullptr, target.c_str(), L"", nullptr, SW_SHOWNORMAL);
}

DesktopShellOpen SetDesktopShellOpen(DesktopShellOpen open) {
  const DesktopShellOpen previous = gDesktopShellOpen;
  gDesktopShellOpen = open ? open : OpenThroughExplorer;
  return previous;
}
