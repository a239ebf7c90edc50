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

bool DiskSpaceOfEngineText(const char* text, uint32_t* needMB, uint32_t* freeMB) {
  if (text == nullptr) return false;
  const char* need = std::strstr(text, "need ");
  const char* free = need ? std::strstr(need, "free ") : nullptr;
  if (free == nullptr) return false;
  const int32_t needValue = ParseDecimal(need + 5, need + std::strlen(need));
  const int32_t freeValue = ParseDecimal(free + 5, free + std::strlen(free));
  if (needValue <= 0 || freeValue < 0) return false;
  *needMB = static_cast<uint32_t>(needValue);
  *freeMB = static_cast<uint32_t>(freeValue);
  return true;
}

}  // namespace rules
