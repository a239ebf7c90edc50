#pragma once
// Conversions between UTF-16, the text of Windows' calls, and 8-bit text in a code page, made at the
// program's boundaries.
#include <windows.h>

#include <string>

// 8-bit text in a code page (the system's ANSI code page unless named) to UTF-16. A length of -1 reads up
// to the first zero byte.
std::wstring Widen(const char* bytes, int length = -1, UINT codePage = CP_ACP);
inline std::wstring Widen(const std::string& bytes, UINT codePage = CP_ACP) {
  return Widen(bytes.data(), static_cast<int>(bytes.size()), codePage);
}
// UTF-16 to 8-bit text in a code page, exactly: false when a character has no form of its own there
// (nothing is replaced by a default or a look-alike character).
bool Narrow(const std::wstring& text, UINT codePage, std::string* out);
