// The patch notes on the welcome page: the archive's RTF document in a read-only rich edit (version 1)
// laid inside the etched frame.
#include <memory>
#include <new>

#include "app/MainDlg.h"

void CMainDlg::ShowPatchNotes() {
  if (mNotesName.empty()) return;
  uint32_t size = 0;
  const uint8_t* bytes = mArchive.MapEntry(mNotesName, size);
  if (bytes == nullptr) return;

  // The document ends at its first zero byte; the rest of the buffer stays zero.
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[static_cast<size_t>(size) + 1]());
  if (!buffer) {
    mArchive.UnmapEntry(bytes);
    return;
  }
  for (uint32_t i = 0; i < size && bytes[i] != 0; ++i) buffer[i] = static_cast<char>(bytes[i]);
  mArchive.UnmapEntry(bytes);

  CString notes;
  if (size > 0) {
    notes.resize(size);  // ANSI to UTF-16 never yields more characters than bytes
    int converted = ::MultiByteToWideChar(CP_ACP, 0, buffer.get(), static_cast<int>(size), &notes[0],
                                          static_cast<int>(size));
    notes.resize(converted > 0 ? static_cast<size_t>(converted) : 0);
    notes.resize(wcsnlen(notes.c_str(), notes.size()));
  }
  buffer.reset();

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
