#include "rules/EngineErrorNumber.h"

#include <cstring>

#include "rules/Decimal.h"

namespace rules {

int32_t EngineErrorNumber(const char* text) {
  if (text == nullptr) return 0;
  const char* ept = std::strstr(text, "ept");
  if (ept == nullptr) return 0;
  const char* digits = ept + 3;
  return ParseDecimal(digits, digits + std::strlen(digits));
}

}  // namespace rules
