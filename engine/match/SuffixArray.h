#pragma once
// The suffix array of the old data, for finding the longest match of any new position in it. The
// array of a text is unique, so how it is built does not change a patch: natively libdivsufsort builds
// it; where that library is missing (the Windows tools) InducedSort does.
#include <cstdint>
#include <vector>

#include "engine/base/Bytes.h"

namespace rtp {

// The largest old data one array indexes (its positions are 32-bit).
constexpr uint64_t kMaxIndexed = (uint64_t{1} << 31) - 1;

// False when memory runs out or the text is longer than kMaxIndexed.
bool BuildSuffixArray(ByteView text, std::vector<int32_t>* out);

}  // namespace rtp
