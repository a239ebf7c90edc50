#include "win/WinTexts.h"

#include <climits>

#include "framework/Text.h"

std::wstring CWinTexts::Load(uint32_t id) {
  return CString::Load(id);
}

std::wstring CWinTexts::Widen(const char* bytes, size_t length) {
  if (length > INT_MAX) return std::wstring();
  return ::Widen(bytes, static_cast<int>(length));
}

bool CWinTexts::Narrow(const std::wstring& text, std::string* bytes) {
  return ::Narrow(text, CP_ACP, bytes);
}

std::wstring CWinTexts::Lower(const std::wstring& text) {
  std::wstring lower = text;
  if (!lower.empty()) ::CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
  return lower;
}
