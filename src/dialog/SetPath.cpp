#include "dialog/SetPath.h"

#include <shlobj.h>

namespace {

// Text buffers of the dialog: a path of MAX_PATH characters including its terminator.
const int kTextChars = MAX_PATH;

}  // namespace

INT_PTR SetPath::DoModal(const std::wstring& initial) {
  mPath = initial;
  return CDialogImpl<SetPath>::DoModal(::GetActiveWindow());
}

bool SetPath::ProcessWindowMessage(HWND, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (msg == WM_INITDIALOG) {
    result = OnInitDialog();
    return true;
  }
  if (msg == WM_COMMAND) {
    const WORD id = LOWORD(wParam);
    const WORD notifyCode = HIWORD(wParam);
    HWND control = reinterpret_cast<HWND>(lParam);
    if (id == IDOK || id == IDCANCEL) {
      result = OnCloseCmd(notifyCode, id, control);
      return true;
    }
    if (notifyCode == BN_CLICKED) {
      result = OnBrowse(notifyCode, id, control);
      return true;
    }
  }
  return false;
}

LRESULT SetPath::OnInitDialog() {
  // The caption is the owner's title: the main dialog's, naming the two versions.
  SetWindowText(CWindow(::GetWindow(m_hWnd, GW_OWNER)).GetWindowText(kTextChars).c_str());
  ::SetDlgItemTextW(m_hWnd, IDC_PATH_EDIT, mPath.c_str());
  return TRUE;  // the system sets the default focus
}

LRESULT SetPath::OnCloseCmd(WORD, WORD id, HWND) {
  if (id == IDOK) mPath = CWindow(GetDlgItem(IDC_PATH_EDIT)).GetWindowText(kTextChars);
  EndDialog(id);
  return 0;
}

LRESULT SetPath::OnBrowse(WORD, WORD id, HWND) {
  if (id != IDC_BROWSE) return 0;
  wchar_t title[kTextChars] = {};
  ::LoadStringW(theModule.GetResourceInstance(), IDS_CHOOSE_FOLDER, title, kTextChars);

  BROWSEINFOW request{};
  request.hwndOwner = m_hWnd;
  request.pidlRoot = nullptr;
  request.pszDisplayName = nullptr;
  request.lpszTitle = title;
  request.ulFlags = BIF_RETURNONLYFSDIRS;
  request.lpfn = nullptr;
  // No callback: the browser does not start at the folder in the edit field.
  PIDLIST_ABSOLUTE item = ::SHBrowseForFolderW(&request);
  if (item == nullptr) return 0;

  wchar_t folder[kTextChars] = {};
  if (::SHGetPathFromIDListW(item, folder)) {
    mPath = folder;
    ::SetDlgItemTextW(m_hWnd, IDC_PATH_EDIT, mPath.c_str());
  }
  ::CoTaskMemFree(item);
  return 0;
}
