// The dialog's output operations. They are called from the dialog's thread and from the extraction
// thread; every change to a control is a message sent to it, which the window system carries out on
// the dialog's thread.
#include "app/MainDlg.h"

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

void CMainDlg::SetFileStatus(CString text) {
  if (!IsWindow()) return;
  ::SetDlgItemTextW(m_hWnd, IDC_FILE_STATUS, text.c_str());
  InvalidateControl(IDC_FILE_STATUS);
}

void CMainDlg::SetPhaseStatusId(UINT stringId) {
  CString text = CString::Load(stringId);
  if (!IsWindow()) return;
  ::SetDlgItemTextW(m_hWnd, IDC_PHASE_STATUS, text.c_str());
  InvalidateControl(IDC_PHASE_STATUS);
}

void CMainDlg::AddDetail(CString text) {
  if (!mList.IsWindow()) return;
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

int CMainDlg::ShowMessage(UINT stringId, UINT style) {
  UINT captionId = IDS_MESSAGE_CAPTION;
  if (style == 0) {
    style = MB_ICONHAND | MB_OK;
    captionId = IDS_ERROR_CAPTION;
  }
  CString text = CString::Load(stringId);
  CString caption = CString::Load(captionId);
  return ::MessageBoxW(IsWindow() ? m_hWnd : nullptr, text.c_str(), caption.c_str(), style);
}
