#pragma once
// Template dialogs: a static procedure binds the C++ object to its window at WM_INITDIALOG and
// forwards every message to ProcessWindowMessage, the derived class's message map.
#include <windows.h>

#include "framework/AppModule.h"
#include "framework/Window.h"

class CDialogBase : public CWindow {
 public:
  CDialogBase() = default;
  CDialogBase(const CDialogBase&) = delete;
  CDialogBase& operator=(const CDialogBase&) = delete;
  virtual ~CDialogBase();

  // The message map: returns true when the message was handled, with `result` for the dialog manager.
  virtual bool ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;

 protected:
  HWND CreateFromTemplate(UINT templateId, HWND parent, LPARAM param);
  INT_PTR RunModal(UINT templateId, HWND parent, LPARAM param);

 private:
  static INT_PTR CALLBACK StartDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
  LPARAM mCreationParam = 0;
};

template <class T>
class CDialogImpl : public CDialogBase {
 public:
  // A modeless dialog from template T::IDD; null on failure.
  HWND Create(HWND parent, LPARAM param = 0) { return CreateFromTemplate(T::IDD, parent, param); }
  // A modal dialog from template T::IDD; the value given to EndDialog, or -1 when it cannot be created.
  INT_PTR DoModal(HWND parent = ::GetActiveWindow(), LPARAM param = 0) {
    return RunModal(T::IDD, parent, param);
  }
  BOOL EndDialog(INT_PTR result) const { return ::EndDialog(m_hWnd, result); }
};

// Control hosting is not used by this program's templates: a dialog that could host controls is a plain one.
template <class T>
class CAxDialogImpl : public CDialogImpl<T> {};

// Update-UI support with an empty map: a container added to it has nothing to update.
template <class T>
class CUpdateUI {
 public:
  BOOL UIAddChildWindowContainer(HWND) { return TRUE; }
};
