#pragma once
// The modal folder dialog: the user types the client folder or picks one with the shell's folder
// browser. It checks nothing; the caller judges the folder.
#include <windows.h>

#include <string>

#include "framework/Dialog.h"
#include "framework/Text.h"
#include "rules/resource.h"

class SetPath : public CDialogImpl<SetPath> {
 public:
  enum { IDD = IDD_SETPATH };

  // Starts from `initial` and runs modally, owned by the thread's active window (none when there is
  // none). 1: OK, mPath is the edit field's text. 2: Cancel, Esc or the close box, mPath is the initial
  // text or the last folder picked in the browser. -1: the dialog could not be created.
  INT_PTR DoModal(const std::wstring& initial);

  bool ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  LRESULT OnInitDialog();
  LRESULT OnCloseCmd(WORD notifyCode, WORD id, HWND control);
  LRESULT OnBrowse(WORD notifyCode, WORD id, HWND control);

  CString mPath;
};
