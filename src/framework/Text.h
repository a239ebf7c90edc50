#pragma once
// The program's text type: UTF-16, with string-table loading and printf-style formatting.
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
  // printf-style with the wide runtime's rules: %s takes a wide text.
  void Format(const wchar_t* format, ...);
  void FormatV(const wchar_t* format, va_list args);

  static CString Load(UINT id);
  static CString Formatted(const wchar_t* format, ...);
};

// 8-bit text in the system's ANSI code page <-> UTF-16, converted at the program's boundaries.
CString AnsiToText(const char* bytes, int length = -1);
std::string TextToAnsi(const std::wstring& text);
