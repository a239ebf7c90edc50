// The patch notes on the welcome page: the archive's RTF document in a read-only rich edit (version 1)
// laid inside the etched frame.
#include "dialog/MainDlg.h"

void CMainDlg::ShowNotes(const std::wstring& notes) {
  RECT rect{};
  ::GetWindowRect(GetDlgItem(IDC_NOTES_FRAME), &rect);
  ::InflateRect(&rect, -2, -2);
  ScreenToClient(&rect);

  if (mNotesView.IsWindow()) {
    mNotesView.ShowWindow(SW_SHOW);
  } else if (mNotesView.Create(
                 m_hWnd, rect, L"",
                 WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_WANTRETURN)) {
    mNotesView.SetFont(static_cast<HFONT>(::GetStockObject(ANSI_VAR_FONT)), TRUE);
    mNotesView.SetTargetDevice(nullptr, 0);
  }
  if (mNotesView.IsWindow()) mNotesView.SetWindowText(notes.c_str());
}
