#include "patching/EngineErrorNumber.h"

#include <cstring>

namespace {

bool IsWhiteSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

int32_t EngineErrorNumber(const char* text) {
  if (text == nullptr) return 0;
  const char* ept = std::strstr(text, "ept");
  if (ept == nullptr) return 0;

  const char* p = ept + 3;
  while (IsWhiteSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // The magnitude stops growing once it passes the largest clamped value, so it never overflows.
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : static_cast<int64_t>(INT32_MAX);
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (magnitude <= limit) magnitude = magnitude * 10 + (*p - '0');
  }
  if (magnitude > limit) magnitude = limit;
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}
