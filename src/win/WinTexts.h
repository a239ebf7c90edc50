#pragma once
// The installer's string table, the system's ANSI code page and the user's lower-casing.
#include "core/Ports.h"

class CWinTexts : public core::Texts {
 public:
  std::wstring Load(uint32_t id) override;
  std::wstring Widen(const char* bytes, size_t length) override;
  bool Narrow(const std::wstring& text, std::string* bytes) override;
  std::wstring Lower(const std::wstring& text) override;
};
