#pragma once
// Thin wrappers over a window handle and the common controls this program uses. They own nothing:
// the window system destroys child windows with their parent.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include "framework/Text.h"

class CWindow {
 public:
  HWND m_hWnd = nullptr;

  CWindow() = default;
  explicit CWindow(HWND hwnd) : m_hWnd(hwnd) {}
  void Attach(HWND hwnd) { m_hWnd = hwnd; }
  operator HWND() const { return m_hWnd; }

  BOOL IsWindow() const { return m_hWnd != nullptr && ::IsWindow(m_hWnd); }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  BOOL ShowWindow(int command) const { return ::ShowWindow(m_hWnd, command); }
  BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
  BOOL DestroyWindow() { return ::DestroyWindow(m_hWnd); }
  BOOL SetWindowText(const wchar_t* text) const { return ::SetWindowTextW(m_hWnd, text); }
  CString GetWindowText(int maxChars = 1024) const;
  LRESULT SendMessage(UINT msg, WPARAM w = 0, LPARAM l = 0) const {
    return ::SendMessageW(m_hWnd, msg, w, l);
  }
  BOOL PostMessage(UINT msg, WPARAM w = 0, LPARAM l = 0) const { return ::PostMessageW(m_hWnd, msg, w, l); }
  BOOL GetClientRect(RECT* rect) const { return ::GetClientRect(m_hWnd, rect); }
  BOOL GetWindowRect(RECT* rect) const { return ::GetWindowRect(m_hWnd, rect); }
  // A rectangle in screen coordinates to this window's client coordinates.
  void ScreenToClient(RECT* rect) const {
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(rect), 2);
  }
  BOOL Invalidate(BOOL erase = TRUE) const { return ::InvalidateRect(m_hWnd, nullptr, erase); }
  BOOL InvalidateRect(const RECT* rect, BOOL erase = TRUE) const {
    return ::InvalidateRect(m_hWnd, rect, erase);
  }
  HICON SetIcon(HICON icon, BOOL big) const {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
  }
  UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs) const { return ::SetTimer(m_hWnd, id, elapseMs, nullptr); }
  BOOL KillTimer(UINT_PTR id) const { return ::KillTimer(m_hWnd, id); }
  BOOL CenterWindow(HWND center = nullptr) const;
  void SetFont(HFONT font, BOOL redraw = TRUE) const {
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
  }
};

class CProgressBarCtrl : public CWindow {
 public:
  using CWindow::CWindow;
  void SetRange(int low, int high) const { SendMessage(PBM_SETRANGE32, low, high); }
  // The previous position, as the control reports it (a 16-bit value).
  int SetPos(int pos) const { return static_cast<short>(LOWORD(SendMessage(PBM_SETPOS, pos))); }
};

class CListViewCtrl : public CWindow {
 public:
  using CWindow::CWindow;
  DWORD SetExtendedListViewStyle(DWORD style, DWORD mask) const {
    return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, mask, style));
  }
  int InsertColumn(int index, const wchar_t* heading, int format, int width = -1, int subItem = -1) const;
  BOOL SetColumnWidth(int column, int width) const {
    return static_cast<BOOL>(SendMessage(LVM_SETCOLUMNWIDTH, column, width));
  }
  int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }
  int InsertItem(int index, const wchar_t* text) const;
  BOOL EnsureVisible(int index, BOOL partialOk) const {
    return static_cast<BOOL>(SendMessage(LVM_ENSUREVISIBLE, index, partialOk));
  }
};

class CRichEditCtrl : public CWindow {
 public:
  HWND Create(HWND parent, const RECT& rect, const wchar_t* text, DWORD style, DWORD exStyle = 0,
              UINT id = 0);
  // Null device and line width 0: lines wrap at the window's width.
  BOOL SetTargetDevice(HDC dc, int lineWidth) const {
    return static_cast<BOOL>(SendMessage(EM_SETTARGETDEVICE, reinterpret_cast<WPARAM>(dc), lineWidth));
  }
};
