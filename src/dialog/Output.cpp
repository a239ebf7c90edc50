// The dialog's output operations. They are called from the dialog's thread and from the extraction
// thread; every change to a control is a message to it, which the window system carries out on the
// dialog's thread. A message sent across threads waits for the dialog's thread, which meanwhile repaints
// what the last one changed, and every change repaints: so a control is sent only what changes what it
// shows, and the extraction thread leaves the bars' newest positions for the dialog's thread to take up
// as fast as it repaints, instead of waiting for each.
#include <algorithm>

#include "dialog/MainDlg.h"

int CMainDlg::SetBar(Bar& bar, int percent) {
  if (!IsWindow()) return 0;
  const int position = std::clamp(percent, 0, 100);  // what the bar shows for any value it is given
  const int previous = bar.shown.exchange(position);
  if (previous == position) return previous;
  // While the engine holds the dialog's thread, the pumps show the newest positions; the extraction
  // thread asks the dialog's thread to show them.
  const bool otherThread = ::GetWindowThreadProcessId(m_hWnd, nullptr) != ::GetCurrentThreadId();
  if (mHolding || otherThread) {
    bar.posted = position;
    if (otherThread && !mBarsPosted.exchange(true)) PostMessage(WM_SHOW_BARS);
    return previous == kNotShown ? 0 : previous;
  }
  return ShowBar(bar, position);
}

int CMainDlg::ShowBar(Bar& bar, int position) {
  CProgressBarCtrl control(GetDlgItem(bar.id));
  if (!bar.ranged.exchange(true)) control.SetRange(0, 100);
  return control.SetPos(position);
}

LRESULT CMainDlg::OnShowBars() {
  mBarsPosted = false;
  for (Bar* bar : {&mFileBar, &mTotalBar}) {
    const int position = bar->posted.exchange(kNotShown);
    if (position != kNotShown) ShowBar(*bar, position);
  }
  return 0;
}

namespace {

// The details list takes a millisecond to take in a batch of rows even while hidden, and tens while
// visible: while the engine runs it is given them at most this often, and less often while nobody sees
// it (pressing Details puts in every row held so far).
constexpr DWORD kRowsIntervalMs = 250;
constexpr DWORD kHiddenRowsIntervalMs = 1000;

}  // namespace

int CMainDlg::SetFileProgress(int percent) {
  return SetBar(mFileBar, percent);
}

int CMainDlg::SetTotalProgress(int percent) {
  return SetBar(mTotalBar, percent);
}

void CMainDlg::SetStatus(int id, std::wstring& shown, const std::wstring& text) {
  if (!IsWindow()) return;
  {
    std::lock_guard<std::mutex> lock(mShownStatusLock);
    if (shown == text) return;
    shown = text;
  }
  ::SetDlgItemTextW(m_hWnd, id, text.c_str());
  InvalidateControl(id);
}

void CMainDlg::InvalidateControl(int controlId) {
  RECT rect{};
  ::GetWindowRect(GetDlgItem(controlId), &rect);
  ScreenToClient(&rect);
  // The status statics are never visible: the dialog's paint draws their text, the erase clears the old one.
  InvalidateRect(&rect, TRUE);
}

void CMainDlg::SetFileStatus(const std::wstring& text) {
  if (mHolding) {
    mHeldFileStatus = text;
    return;
  }
  SetStatus(IDC_FILE_STATUS, mShownFileStatus, text);
}

void CMainDlg::SetPhaseStatus(const std::wstring& text) {
  if (mHolding) {
    mHeldPhaseStatus = text;
    return;
  }
  SetStatus(IDC_PHASE_STATUS, mShownPhaseStatus, text);
}

void CMainDlg::AddDetail(const std::wstring& detail) {
  std::wstring text = detail;
  for (wchar_t& c : text) {
    if (c == L'\n') c = L' ';  // one row per event
  }
  if (mHolding) {
    mHeldRows.push_back(std::move(text));
    return;
  }
  InsertRows({text});
}

void CMainDlg::InsertRows(const std::vector<std::wstring>& rows) {
  if (!mList.IsWindow() || rows.empty()) return;
  // Without redrawing, a row goes in a hundred times faster; turning it back on repaints once.
  mList.SendMessage(WM_SETREDRAW, FALSE);
  for (const std::wstring& row : rows) mList.InsertItem(mList.GetItemCount(), row.c_str());
  mList.SendMessage(WM_SETREDRAW, TRUE);
  mList.EnsureVisible(mList.GetItemCount() - 1, FALSE);
}

void CMainDlg::HoldOutput(bool hold) {
  mHolding = hold;
  if (!hold) ShowHeldOutput(true);
}

void CMainDlg::ShowHeldOutput(bool all) {
  OnShowBars();
  if (mHeldFileStatus) SetStatus(IDC_FILE_STATUS, mShownFileStatus, *mHeldFileStatus);
  if (mHeldPhaseStatus) SetStatus(IDC_PHASE_STATUS, mShownPhaseStatus, *mHeldPhaseStatus);
  mHeldFileStatus.reset();
  mHeldPhaseStatus.reset();
  const DWORD now = ::GetTickCount();
  const DWORD interval = mList.IsWindowVisible() ? kRowsIntervalMs : kHiddenRowsIntervalMs;
  if (!all && now - mLastRowsShown < interval) return;
  ShowHeldRows();
  mLastRowsShown = now;
}

void CMainDlg::ShowHeldRows() {
  InsertRows(mHeldRows);
  mHeldRows.clear();
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
