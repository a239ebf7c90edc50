#include "rules/FileNames.h"

namespace rules {

bool IsPlainFileName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  for (wchar_t c : name) {
    if (c < 0x20 || c == 0x7F || c == L'\\' || c == L'/' || c == L':') return false;
  }
  return !IsDeviceName(name);
}

}  // namespace rules
