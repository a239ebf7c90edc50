#pragma once

#include <cstdint>

namespace rules {

// The error number in an engine error text: the decimal integer right after the first "ept" (exact,
// case-sensitive bytes). It converts like strtol: leading white space skipped, an optional sign, then
// digits up to the first non-digit; 0 when there are none ("ept" at the very end), when the text has no
// "ept", or when there is no text. Only the first "ept" counts, even one inside another word
// ("Exception"). Values beyond 32 bits are clamped to INT32_MIN / INT32_MAX, as strtol does with a
// 32-bit long.
int32_t EngineErrorNumber(const char* text);

// The megabytes in the engine's refusal for want of disk space ("... need N MB, free M MB"); false when
// the text does not hold both.
bool DiskSpaceOfEngineText(const char* text, uint32_t* needMB, uint32_t* freeMB);

}  // namespace rules
