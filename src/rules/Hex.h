#pragma once
// A byte as two hex digits: random names, escapes in quoted names, percent escapes in addresses.
#include <cstdint>
#include <string>

namespace rules {

template <typename Char>
void AppendHexByte(std::basic_string<Char>* out, uint8_t byte, bool upperCase = false) {
  const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
  out->push_back(static_cast<Char>(digits[byte >> 4]));
  out->push_back(static_cast<Char>(digits[byte & 15]));
}

}  // namespace rules
