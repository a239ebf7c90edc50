#pragma once
// CRC-32C (Castagnoli), the checksum of patches: the processor sums it eight bytes a cycle
// where it has the SSE4.2 instruction (every x86 processor of the last fifteen years), so checking a
// gigabyte costs a tenth of a second and the patch run keeps up with the disk. Elsewhere a table does it.
#include <cstdint>

#include "engine/base/Bytes.h"

namespace rtp {

// `crc` continues an earlier result, so a file can be summed in pieces.
uint32_t Crc32c(ByteView bytes, uint32_t crc = 0);

}  // namespace rtp
