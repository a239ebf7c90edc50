#pragma once

#include <string>

#include "rules/Version.h"

namespace rules {

// The patch file's name encodes the versions it upgrades from and to:
//   "zav" + one separator + from-version + "-" + to-version + ".rtp"   (or "_test.rtp" for a test patch)
// with each version written major.minor.build, e.g. "zav.2.12.4526-2.12.4536.rtp".
//
// Both functions take a name that the caller has already lower-cased (lower-casing is locale-aware and
// belongs to the platform side).

// The archive entry whose name contains "zav" is the patch file.
bool IsPatchEntryName(const std::wstring& lowerName);

// Fills *from and *to (both set to 0.0.0 first) from the name. True when both builds are non-zero.
//
// Names the rules cannot read give false without touching anything outside the name:
//  - shorter than 16 characters, or no "-" anywhere;
//  - no "zav" at all;
//  - "zav" so close to the end that no characters remain between the separator and the suffix (the
//    version text is then empty, so both builds are 0);
//  - no "-" inside the version text: the whole text is the from-version and the to-version is empty.
// Numbers read like wcstol with a 32-bit long: leading white space (ASCII) skipped, optional sign, ASCII
// decimal digits, 0 when there are none; values beyond the int32 range clamp to INT32_MAX / INT32_MIN.
bool ParsePatchName(const std::wstring& lowerName, Version* from, Version* to);

}  // namespace rules
