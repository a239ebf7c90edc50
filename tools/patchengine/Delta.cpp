#include "patchengine/Delta.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace rtp {

namespace {

constexpr uint8_t kEnd = 0x00;
constexpr uint8_t kCopy = 0x01;
constexpr uint8_t kInsert = 0x02;

// Matches shorter than this cost more as a copy than as inserted bytes.
constexpr size_t kMinMatch = 16;
constexpr uint32_t kHashBits = 18;
// A longer chain finds slightly better matches in files full of repeats, at quadratic cost.
constexpr int kMaxChain = 32;
constexpr uint32_t kNoPosition = 0xFFFFFFFFu;

class Reader {
 public:
  explicit Reader(ByteView bytes) : mBytes(bytes) {}
  bool AtEnd() const { return mPos >= mBytes.size; }
  bool Byte(uint8_t* out) {
    if (AtEnd()) return false;
    *out = mBytes.data[mPos++];
    return true;
  }
  bool Number(uint32_t* out) {
    uint64_t value = 0;
    for (int shift = 0; shift < 35; shift += 7) {
      uint8_t b;
      if (!Byte(&b)) return false;
      value |= static_cast<uint64_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) {
        if (value > 0xFFFFFFFFu) return false;
        *out = static_cast<uint32_t>(value);
        return true;
      }
    }
    return false;
  }
  bool Skip(uint32_t length, const uint8_t** at) {
    if (length > mBytes.size - mPos) return false;
    *at = mBytes.data + mPos;
    mPos += length;
    return true;
  }

 private:
  ByteView mBytes;
  size_t mPos = 0;
};

// Walks the instructions; `out` null only checks them.
bool Run(ByteView oldFile, uint32_t oldSize, ByteView delta, uint8_t* out, uint64_t newSize) {
  Reader reader(delta);
  uint64_t written = 0;
  for (;;) {
    uint8_t op;
    if (!reader.Byte(&op)) return false;
    if (op == kEnd) return reader.AtEnd() && written == newSize;
    uint32_t length;
    if (op == kCopy) {
      uint32_t offset;
      if (!reader.Number(&offset) || !reader.Number(&length) || length == 0) return false;
      if (static_cast<uint64_t>(offset) + length > oldSize || written + length > newSize) return false;
      if (out) std::memcpy(out + written, oldFile.data + offset, length);
    } else if (op == kInsert) {
      const uint8_t* bytes;
      if (!reader.Number(&length) || length == 0 || written + length > newSize) return false;
      if (!reader.Skip(length, &bytes)) return false;
      if (out) std::memcpy(out + written, bytes, length);
    } else {
      return false;
    }
    written += length;
  }
}

void PutNumber(std::vector<uint8_t>* out, uint32_t value) {
  while (value >= 0x80) {
    out->push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out->push_back(static_cast<uint8_t>(value));
}

void PutInsert(std::vector<uint8_t>* out, const uint8_t* bytes, size_t length) {
  if (!length) return;
  out->push_back(kInsert);
  PutNumber(out, static_cast<uint32_t>(length));
  out->insert(out->end(), bytes, bytes + length);
}

uint32_t HashAt(const uint8_t* p) {
  // Multiplicative hash of the first 16 bytes (two 64-bit words, mixed).
  uint64_t a, b;
  std::memcpy(&a, p, 8);
  std::memcpy(&b, p + 8, 8);
  const uint64_t h = (a * 0x9E3779B97F4A7C15ull) ^ (b * 0xC2B2AE3D27D4EB4Full);
  return static_cast<uint32_t>((h ^ (h >> 29)) >> (64 - kHashBits - 3)) & ((1u << kHashBits) - 1);
}

}  // namespace

bool CheckDelta(ByteView delta, uint32_t oldSize, uint32_t newSize) {
  return Run(ByteView(), oldSize, delta, nullptr, newSize);
}

bool ApplyDelta(ByteView oldFile, ByteView delta, uint8_t* out, size_t newSize) {
  if (oldFile.size > 0xFFFFFFFFu) return false;
  return Run(oldFile, static_cast<uint32_t>(oldFile.size), delta, out, newSize);
}

bool MakeDelta(ByteView oldFile, ByteView newFile, std::vector<uint8_t>* out) {
  out->clear();
  const size_t oldSize = oldFile.size;
  const size_t newSize = newFile.size;
  // Chains through every old position: head of each hash bucket, next older position with that hash.
  std::unique_ptr<uint32_t[]> head;
  std::unique_ptr<uint32_t[]> next;
  if (oldSize >= kMinMatch) {
    head.reset(new (std::nothrow) uint32_t[size_t{1} << kHashBits]);
    next.reset(new (std::nothrow) uint32_t[oldSize - kMinMatch + 1]);
    if (!head || !next) return false;
    for (size_t i = 0; i < (size_t{1} << kHashBits); ++i) head[i] = kNoPosition;
    // Inserted from the end, so each chain starts at the earliest occurrence.
    for (size_t i = oldSize - kMinMatch + 1; i-- > 0;) {
      const uint32_t h = HashAt(oldFile.data + i);
      next[i] = head[h];
      head[h] = static_cast<uint32_t>(i);
    }
  }

  size_t literalStart = 0;
  size_t pos = 0;
  while (head && pos + kMinMatch <= newSize) {
    size_t bestLength = 0;
    size_t bestOffset = 0;
    int chain = 0;
    for (uint32_t candidate = head[HashAt(newFile.data + pos)]; candidate != kNoPosition && chain < kMaxChain;
         candidate = next[candidate], ++chain) {
      size_t length = 0;
      const size_t limit = std::min(oldSize - candidate, newSize - pos);
      while (length < limit && oldFile.data[candidate + length] == newFile.data[pos + length]) ++length;
      if (length > bestLength) {
        bestLength = length;
        bestOffset = candidate;
      }
    }
    if (bestLength < kMinMatch) {
      ++pos;
      continue;
    }
    // Grow the match backwards over bytes that were about to be inserted.
    while (pos > literalStart && bestOffset > 0 && oldFile.data[bestOffset - 1] == newFile.data[pos - 1]) {
      --pos;
      --bestOffset;
      ++bestLength;
    }
    PutInsert(out, newFile.data + literalStart, pos - literalStart);
    out->push_back(kCopy);
    PutNumber(out, static_cast<uint32_t>(bestOffset));
    PutNumber(out, static_cast<uint32_t>(bestLength));
    pos += bestLength;
    literalStart = pos;
  }
  PutInsert(out, newFile.data + literalStart, newSize - literalStart);
  out->push_back(kEnd);
  return true;
}

}  // namespace rtp
