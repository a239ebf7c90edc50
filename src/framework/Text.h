#pragma once
// The program's text type: UTF-16, with string-table loading; and the code-page conversions.
#include <windows.h>

#include <string>

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

// 8-bit text in a code page (the system's ANSI code page unless named) to UTF-16, converted at the
// program's boundaries. A length of -1 reads up to the first zero byte.
CString Widen(const char* bytes, int length = -1, UINT codePage = CP_ACP);
inline CString Widen(const std::string& bytes, UINT codePage = CP_ACP) {
  return Widen(bytes.data(), static_cast<int>(bytes.size()), codePage);
}
// UTF-16 to 8-bit text in a code page, exactly: false when a character has no form of its own there
// (nothing is replaced by a default or a look-alike character).
bool Narrow(const std::wstring& text, UINT codePage, std::string* out);
