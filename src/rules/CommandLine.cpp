#include "rules/CommandLine.h"

namespace rules {

std::wstring GetCommandLineValue(const std::wstring& cmdLine, const std::wstring& key) {
  if (key.empty()) return std::wstring();
  const size_t found = cmdLine.find(key);
  if (found == std::wstring::npos) return std::wstring();

  size_t start = found + key.size() + 1;
  if (start >= cmdLine.size()) return std::wstring();
  if (cmdLine[start] == L'"') {
    ++start;
    const size_t close = cmdLine.find(L'"', start);
    if (close != std::wstring::npos) return cmdLine.substr(start, close - start);
    if (start >= cmdLine.size()) return std::wstring();
  }
  // The first character belongs to the value whatever it is, so the blank search starts after it.
  const size_t blank = cmdLine.find(L' ', start + 1);
  if (blank == std::wstring::npos) return cmdLine.substr(start);
  return cmdLine.substr(start, blank - start);
}

}  // namespace rules
