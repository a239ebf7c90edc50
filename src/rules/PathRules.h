#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "rules/Product.h"

namespace rules {

// Only this many bytes at the start of "common.ini" / "boot.ini" are examined for the build.
constexpr size_t kBuildFileBytes = 1024;

// folder + "\" + name, then every pair of consecutive backslashes becomes one in a single left-to-right
// pass (three become two, four become two). So "c:\a\" and "c:\a" both give "c:\a\zav.exe", and an
// empty folder gives "\zav.exe". A network path's leading "\\" is shortened too.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// The installed build from the bytes read from a client configuration file (the caller reads at most
// kBuildFileBytes). 0 means that no build was found.
//
// The bytes form one text that the first zero byte ends. The first "build=" (case-sensitive, also inside
// a longer key) starts the value, which ends at the next line feed, without the carriage return before
// it when there is one (a line ended by a bare line feed keeps its last character). No line feed after
// "build=" gives 0, and so does a line feed right after it. A value longer than 9 characters is cut to its
// first 9 (what the value buffer holds). The value converts like atoi: leading white space skipped, optional
// sign, decimal digits, 0 when there are none; a negative value wraps to unsigned 32 bits as the conversion
// stores it.
uint32_t ParseBuildValue(const char* bytes, size_t n);

}  // namespace rules
