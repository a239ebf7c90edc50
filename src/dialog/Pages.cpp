// The wizard's pages as core/PageTable.h describes them: which controls each shows, with its heading and
// button texts; what a page means is the install flow's.
#include "core/PageTable.h"
#include "dialog/MainDlg.h"

using namespace core;

void CMainDlg::ResetPage() {
  for (int id : {IDC_FILE_PROGRESS, IDC_TOTAL_PROGRESS, IDC_DETAILS_LIST, IDC_DETAILS, IDC_GET_CLIENT,
                 IDC_GET_PATCH, IDC_LAUNCH, IDC_SUPPORT, IDC_NOTES_FRAME}) {
    ::ShowWindow(GetDlgItem(id), SW_HIDE);
  }
  if (mNotesView.IsWindow()) mNotesView.ShowWindow(SW_HIDE);
  ::SetDlgItemTextW(m_hWnd, IDC_FILE_STATUS, L"");
  ::SetDlgItemTextW(m_hWnd, IDC_PHASE_STATUS, L"");
  ForgetShownValues();
}

void CMainDlg::ForgetShownValues() {
  for (Bar* bar : {&mFileBar, &mTotalBar}) {
    bar->shown = kNotShown;
    bar->ranged = false;
  }
  std::lock_guard<std::mutex> lock(mShownStatusLock);
  mShownFileStatus.clear();  // the statics were just emptied
  mShownPhaseStatus.clear();
}

void CMainDlg::ShowPage(int page, int offerId) {
  ShowHeldOutput(true);
  ResetPage();
  if (const PageLook* look = LookOf(page)) {
    if (look->startTextId) SetItemTextId(IDOK, look->startTextId);
    ::ShowWindow(GetDlgItem(IDOK), look->startTextId ? SW_SHOW : SW_HIDE);
    SetItemTextId(IDCANCEL, look->cancelTextId);
    SetTitleId(look->titleId);
    for (int id : look->shown)
      if (id != 0) ::ShowWindow(GetDlgItem(id), SW_SHOW);
    if (offerId != 0) ::ShowWindow(GetDlgItem(offerId), SW_SHOW);
  }
  // Enter is command 1 on every page: the button acts only while it is shown (its own style bit: the
  // dialog itself is still hidden when the welcome page is first set up).
  HWND start = GetDlgItem(IDOK);
  ::EnableWindow(start, (::GetWindowLongW(start, GWL_STYLE) & WS_VISIBLE) != 0);
}

void CMainDlg::ShowVersions(const std::wstring& line, const std::wstring& caption) {
  ::SetDlgItemTextW(m_hWnd, IDC_VERSIONS, line.c_str());
  SetWindowText(caption.c_str());
}
