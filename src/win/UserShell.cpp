#include "win/UserShell.h"

#include <windows.h>
#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "win/Elevation.h"

namespace {

// One COM reference, released by its owner.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() {
    if (mPointer) mPointer->Release();
  }
  T* operator->() const { return mPointer; }
  T** Out() { return &mPointer; }
  void** OutVoid() { return reinterpret_cast<void**>(&mPointer); }
  explicit operator bool() const { return mPointer != nullptr; }

 private:
  T* mPointer = nullptr;
};

class Bstr {
 public:
  explicit Bstr(const std::wstring& text) : mText(::SysAllocStringLen(text.data(), text.size())) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { ::SysFreeString(mText); }
  BSTR Get() const { return mText; }

 private:
  BSTR mText;
};

VARIANT Text(const Bstr& text) {
  VARIANT value;
  ::VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = text.Get();
  return value;
}

// The desktop's folder view leads to the shell's own automation object, which runs in Explorer's process.
bool OpenThroughExplorer(const std::wstring& target, const std::wstring& folder) {
  ComRef<IShellWindows> windows;
  if (FAILED(::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.OutVoid())))
    return false;
  VARIANT none;
  ::VariantInit(&none);
  long window = 0;
  ComRef<IDispatch> desktop;
  if (windows->FindWindowSW(&none, &none, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop.Out()) != S_OK ||
      !desktop)
    return false;
  ComRef<IServiceProvider> services;
  ComRef<IShellBrowser> browser;
  ComRef<IShellView> view;
  ComRef<IDispatch> background;
  ComRef<IShellFolderViewDual> folderView;
  ComRef<IDispatch> application;
  ComRef<IShellDispatch2> shell;
  if (FAILED(desktop->QueryInterface(IID_IServiceProvider, services.OutVoid())) ||
      FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.OutVoid())) ||
      FAILED(browser->QueryActiveShellView(view.Out())) ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.OutVoid())) ||
      FAILED(background->QueryInterface(IID_IShellFolderViewDual, folderView.OutVoid())) ||
      FAILED(folderView->get_Application(application.Out())) ||
      FAILED(application->QueryInterface(IID_IShellDispatch2, shell.OutVoid())))
    return false;
  const Bstr file(target), directory(folder);
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
