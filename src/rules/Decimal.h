#pragma once
// Decimal numbers in the installer's texts (patch names, build values, engine error texts), read the way
// the C library's strtol reads them where long is 32 bits.
#include <cstdint>

namespace rules {

// Leading white space (blank, tab to carriage return) is skipped, then an optional sign, then ASCII digits
// up to the first non-digit or `end`; 0 when there are none. Values beyond the int32 range clamp to
// INT32_MIN or INT32_MAX. A zero character ends the digits like any other non-digit.
template <class Char>
int32_t ParseDecimal(const Char* text, const Char* end) {
  const auto isBlank = [](Char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (text != end && isBlank(*text)) ++text;
  bool negative = false;
  if (text != end && (*text == '+' || *text == '-')) {
    negative = *text == '-';
    ++text;
  }
  // The magnitude stops growing once it passes the largest value either sign can clamp to.
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : static_cast<int64_t>(INT32_MAX);
  int64_t magnitude = 0;
  for (; text != end && *text >= '0' && *text <= '9'; ++text) {
    if (magnitude <= limit) magnitude = magnitude * 10 + (*text - '0');
  }
  if (magnitude > limit) magnitude = limit;
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace rules
