#include "winbase/Text.h"

std::wstring Widen(const char* bytes, int length, UINT codePage) {
  std::wstring text;
  if (bytes == nullptr || length == 0) return text;
  int wide = ::MultiByteToWideChar(codePage, 0, bytes, length, nullptr, 0);
  if (wide <= 0) return text;
  text.resize(static_cast<size_t>(wide));
  ::MultiByteToWideChar(codePage, 0, bytes, length, &text[0], wide);
  if (length < 0) text.resize(static_cast<size_t>(wide) - 1);  // the converted terminator
  return text;
}

bool Narrow(const std::wstring& text, UINT codePage, std::string* out) {
  out->clear();
  if (text.empty()) return true;
  // UTF-8 takes neither the flag nor the default-character check: it has a form for everything.
  const bool utf8 = codePage == CP_UTF8;
  BOOL usedDefault = FALSE;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int length = ::WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, utf8 ? nullptr : &usedDefault);
  if (length <= 0 || usedDefault) return false;
  out->assign(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), &(*out)[0], length,
                        nullptr, nullptr);
  return true;
}
