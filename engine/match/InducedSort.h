#pragma once
// Suffix sorting by induced sorting (SA-IS) in linear time, for builds without libdivsufsort (the
// Windows tools): the suffixes of the leftmost-smaller positions are sorted first, by sorting the
// shorter string of their names when two are alike, and every other suffix is placed from them.
#include <cstdint>

#include "engine/base/Bytes.h"

namespace rtp {

// Writes the suffix array of `text` (shorter than 2^31 bytes) to sa[0 .. text.size).
void InducedSort(ByteView text, int32_t* sa);

}  // namespace rtp
