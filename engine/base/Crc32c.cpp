#include "engine/base/Crc32c.h"

#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <nmmintrin.h>
#define RTP_HAVE_SSE42_PATH 1
#endif

namespace rtp {

namespace {

struct TableC {
  uint32_t value[256];
  TableC() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0x82F63B78u ^ (c >> 1) : c >> 1;
      value[i] = c;
    }
  }
};

const TableC kTableC;

uint32_t ByTable(const uint8_t* p, size_t n, uint32_t crc) {
  for (; n; ++p, --n) crc = kTableC.value[(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return crc;
}

#ifdef RTP_HAVE_SSE42_PATH
__attribute__((target("sse4.2"))) uint32_t ByInstruction(const uint8_t* p, size_t n, uint32_t crc) {
#if defined(__x86_64__)
  uint64_t c = crc;
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    c = _mm_crc32_u64(c, word);
  }
  crc = static_cast<uint32_t>(c);
#else
  for (; n >= 4; p += 4, n -= 4) {
    uint32_t word;
    std::memcpy(&word, p, 4);
    crc = _mm_crc32_u32(crc, word);
  }
#endif
  for (; n; ++p, --n) crc = _mm_crc32_u8(crc, *p);
  return crc;
}

bool HasInstruction() {
  static const bool has = __builtin_cpu_supports("sse4.2");
  return has;
}
#endif

}  // namespace

uint32_t Crc32c(ByteView bytes, uint32_t crc) {
  crc = ~crc;
#ifdef RTP_HAVE_SSE42_PATH
  if (HasInstruction()) return ~ByInstruction(bytes.data, bytes.size, crc);
#endif
  return ~ByTable(bytes.data, bytes.size, crc);
}

}  // namespace rtp
