#include "engine/base/Bytes.h"

#include <cstring>

namespace rtp {

namespace {

// Eight tables, so eight bytes are summed in one step ("slicing by eight"): value[k][b] is the CRC of
// byte b followed by k zero bytes. Files of a gigabyte are summed several times in a run.
struct CrcTable {
  uint32_t value[8][256];
  CrcTable() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      value[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
      for (int k = 1; k < 8; ++k) value[k][i] = (value[k - 1][i] >> 8) ^ value[0][value[k - 1][i] & 0xFF];
  }
};

const CrcTable kCrcTable;

}  // namespace

bool Buffer::Assign(ByteView bytes) {
  if (!Resize(bytes.size)) return false;
  if (bytes.size) std::memcpy(mData.get(), bytes.data, bytes.size);
  return true;
}

uint32_t Crc32(ByteView bytes, uint32_t crc) {
  const auto& t = kCrcTable.value;
  crc = ~crc;
  const uint8_t* p = bytes.data;
  size_t left = bytes.size;
  for (; left >= 8; p += 8, left -= 8) {
    const uint32_t low = crc ^ ReadU32(p);
    const uint32_t high = ReadU32(p + 4);
    crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
          t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
  }
  for (; left; ++p, --left) crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

}  // namespace rtp
