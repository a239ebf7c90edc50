#include "framework/Window.h"

#include "framework/AppModule.h"

CString CWindow::GetWindowText(int maxChars) const {
  CString text;
  text.resize(static_cast<size_t>(maxChars));
  int length = ::GetWindowTextW(m_hWnd, &text[0], maxChars);
  text.resize(length > 0 ? static_cast<size_t>(length) : 0);
  return text;
}

BOOL CWindow::CenterWindow(HWND center) const {
  RECT window{};
  if (!GetWindowRect(&window)) return FALSE;
  RECT area{};
  if (center != nullptr) {
    ::GetWindowRect(center, &area);
  } else {
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  int width = window.right - window.left;
  int height = window.bottom - window.top;
  int x = area.left + ((area.right - area.left) - width) / 2;
  int y = area.top + ((area.bottom - area.top) - height) / 2;
  return ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int CListViewCtrl::InsertColumn(int index, const wchar_t* heading, int format, int width, int subItem) const {
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_FMT;
  column.fmt = format;
  column.pszText = const_cast<wchar_t*>(heading);
  if (width != -1) {
    column.mask |= LVCF_WIDTH;
    column.cx = width;
  }
  if (subItem != -1) {
    column.mask |= LVCF_SUBITEM;
    column.iSubItem = subItem;
  }
  return static_cast<int>(SendMessage(LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column)));
}

int CListViewCtrl::InsertItem(int index, const wchar_t* text) const {
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = index;
  item.iSubItem = 0;
  item.pszText = const_cast<wchar_t*>(text);
  return static_cast<int>(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

HWND CRichEditCtrl::Create(HWND parent, const RECT& rect, const wchar_t* text, DWORD style, DWORD exStyle,
                           UINT id) {
  m_hWnd = ::CreateWindowExW(
      exStyle, L"RICHEDIT", text, style, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
      parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), theModule.GetModuleInstance(), nullptr);
  return m_hWnd;
}
