// The dialog's output operations. They are called from the dialog's thread and from the extraction
// thread; every change to a control is a message sent to it, which the window system carries out on
// the dialog's thread.
#include "dialog/MainDlg.h"

namespace {

int SetBar(const CWindow& dialog, int id, int percent) {
  if (!dialog.IsWindow()) return 0;
  CProgressBarCtrl bar(dialog.GetDlgItem(id));
  bar.SetRange(0, 100);  // every call, whatever happened to the bar before
  return bar.SetPos(percent);
}

}  // namespace

int CMainDlg::SetFileProgress(int percent) {
  return SetBar(*this, IDC_FILE_PROGRESS, percent);
}

int CMainDlg::SetTotalProgress(int percent) {
  return SetBar(*this, IDC_TOTAL_PROGRESS, percent);
}

void CMainDlg::InvalidateControl(int controlId) {
  RECT rect{};
  ::GetWindowRect(GetDlgItem(controlId), &rect);
  ScreenToClient(&rect);
  // The status statics are never visible: the dialog's paint draws their text, the erase clears the old one.
  InvalidateRect(&rect, TRUE);
}

void CMainDlg::SetFileStatus(const std::wstring& text) {
  if (!IsWindow()) return;
  ::SetDlgItemTextW(m_hWnd, IDC_FILE_STATUS, text.c_str());
  InvalidateControl(IDC_FILE_STATUS);
}

void CMainDlg::SetPhaseStatus(const std::wstring& text) {
  if (!IsWindow()) return;
  ::SetDlgItemTextW(m_hWnd, IDC_PHASE_STATUS, text.c_str());
  InvalidateControl(IDC_PHASE_STATUS);
}

void CMainDlg::AddDetail(const std::wstring& detail) {
  if (!mList.IsWindow()) return;
  std::wstring text = detail;
  for (wchar_t& c : text) {
    if (c == L'\n') c = L' ';  // one row per event
  }
  mList.InsertItem(mList.GetItemCount(), text.c_str());
  mList.EnsureVisible(mList.GetItemCount() - 1, FALSE);
}

void CMainDlg::SetTitle(CString text) {
  mTitle = std::move(text);
  if (IsWindow()) Invalidate(TRUE);
}

void CMainDlg::SetTitleId(UINT stringId) {
  SetTitle(CString::Load(stringId));
}

void CMainDlg::SetItemTextId(int controlId, UINT stringId) {
  CString text = CString::Load(stringId);
  ::SetDlgItemTextW(m_hWnd, controlId, text.c_str());
}
