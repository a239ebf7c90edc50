#include "framework/Dialog.h"

CDialogBase::~CDialogBase() {
  // A dialog object never outlives its window: the procedure would reach a dead object.
  if (IsWindow()) {
    ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
    ::DestroyWindow(m_hWnd);
  }
}

HWND CDialogBase::CreateFromTemplate(UINT templateId, HWND parent, LPARAM param) {
  mCreationParam = param;
  return ::CreateDialogParamW(theModule.GetResourceInstance(), MAKEINTRESOURCEW(templateId), parent,
                              StartDialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CDialogBase::RunModal(UINT templateId, HWND parent, LPARAM param) {
  mCreationParam = param;
  return ::DialogBoxParamW(theModule.GetResourceInstance(), MAKEINTRESOURCEW(templateId), parent,
                           StartDialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDialogBase::StartDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
  CDialogBase* self = nullptr;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<CDialogBase*>(lParam);
    self->m_hWnd = hwnd;
    ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    lParam = self->mCreationParam;
  } else {
    self = reinterpret_cast<CDialogBase*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (self == nullptr) return FALSE;

  LRESULT result = 0;
  bool handled = self->ProcessWindowMessage(hwnd, msg, wParam, lParam, result);
  if (msg == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->m_hWnd = nullptr;
  }
  if (!handled) return FALSE;
  // Initialisation returns its result straight from the dialog procedure (the dialogs here handle no
  // other message that does); every other handled message passes it through DWLP_MSGRESULT.
  if (msg == WM_INITDIALOG) return static_cast<INT_PTR>(result);
  ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}
