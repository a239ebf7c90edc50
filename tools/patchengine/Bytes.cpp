#include "patchengine/Bytes.h"

#include <cstring>

namespace rtp {

namespace {

struct CrcTable {
  uint32_t value[256];
  CrcTable() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      value[i] = c;
    }
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
  crc = ~crc;
  for (size_t i = 0; i < bytes.size; ++i) crc = kCrcTable.value[(crc ^ bytes.data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

}  // namespace rtp
