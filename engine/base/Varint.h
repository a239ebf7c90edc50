#pragma once
// Numbers of the patch directory and instruction streams: unsigned LEB128 (7 bits a byte, low group
// first, at most 10 bytes) and signed numbers folded onto unsigned ones (0, -1, 1, -2, ... as 0, 1, 2, 3).
#include <cstdint>
#include <vector>

namespace rtp {

inline void PutVarint(std::vector<uint8_t>* out, uint64_t value) {
  while (value >= 0x80) {
    out->push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out->push_back(static_cast<uint8_t>(value));
}

// A checksum: four bytes, low first (as a varint it would often take five).
inline void PutFixed32(std::vector<uint8_t>* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A number of `bytes` bytes, low first: for values spread evenly, as hashes are.
inline void PutFixed(std::vector<uint8_t>* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A size in a fixed place: eight bytes, low first.
inline void PutFixed64(std::vector<uint8_t>* out, uint64_t value) {
  PutFixed(out, value, 8);
}

inline uint64_t FoldSigned(int64_t value) {
  return value < 0 ? (static_cast<uint64_t>(-(value + 1)) << 1) | 1 : static_cast<uint64_t>(value) << 1;
}
inline int64_t UnfoldSigned(uint64_t value) {
  return (value & 1) ? -static_cast<int64_t>(value >> 1) - 1 : static_cast<int64_t>(value >> 1);
}

// Reads numbers from bytes in memory; once a read fails, every later one fails too.
class VarintReader {
 public:
  VarintReader(const uint8_t* data, size_t size) : mData(data), mSize(size) {}
  bool Ok() const { return mOk; }
  bool AtEnd() const { return mAt == mSize; }
  size_t Left() const { return mSize - mAt; }
  uint64_t Number() {
    uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (!mOk || mAt >= mSize) break;
      const uint8_t b = mData[mAt++];
      if (shift == 63 && b > 1) break;
      value |= static_cast<uint64_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) return value;
    }
    mOk = false;
    return 0;
  }
  int64_t Signed() { return UnfoldSigned(Number()); }
  uint32_t Fixed32() {
    const uint8_t* p = Take(4);
    return p ? static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) | (static_cast<uint32_t>(p[3]) << 24)
             : 0;
  }
  uint64_t Fixed64() {
    const uint64_t low = Fixed32();
    return low | static_cast<uint64_t>(Fixed32()) << 32;
  }
  uint64_t Fixed(int bytes) {
    const uint8_t* p = Take(static_cast<size_t>(bytes));
    uint64_t value = 0;
    for (int i = 0; p && i < bytes; ++i) value |= static_cast<uint64_t>(p[i]) << (8 * i);
    return value;
  }
  // A number that must not exceed `most`.
  uint64_t Bounded(uint64_t most) {
    const uint64_t value = Number();
    if (value > most) mOk = false;
    return mOk ? value : 0;
  }
  // Marks the bytes as damaged: every later read fails.
  void Fail() { mOk = false; }
  const uint8_t* Take(size_t length) {
    if (!mOk || length > mSize - mAt) {
      mOk = false;
      return nullptr;
    }
    const uint8_t* at = mData + mAt;
    mAt += length;
    return at;
  }

 private:
  const uint8_t* mData;
  size_t mSize;
  size_t mAt = 0;
  bool mOk = true;
};

}  // namespace rtp
