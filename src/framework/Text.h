#pragma once
// The program's text type: UTF-16, with string-table loading. The code-page conversions are winbase's.
#include <windows.h>

#include <string>

#include "winbase/Text.h"

class CString : public std::wstring {
 public:
  CString() = default;
  CString(const wchar_t* text) : std::wstring(text ? text : L"") {}
  CString(const std::wstring& text) : std::wstring(text) {}
  CString(std::wstring&& text) : std::wstring(std::move(text)) {}

  // Replaces the text with string-table entry `id`; a missing id leaves it empty and returns false.
  bool LoadString(UINT id);
  static CString Load(UINT id);
};
