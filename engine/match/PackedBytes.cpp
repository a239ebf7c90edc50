#include "engine/match/PackedBytes.h"

#include <cstdint>

namespace rtp {

namespace {

constexpr size_t kSmallest = 64u << 10;
// A larger file is counted in kPieces pieces of kSmallest bytes spread over it.
constexpr size_t kPieces = 256;

}  // namespace

bool LooksPacked(ByteView bytes) {
  if (bytes.size < kSmallest) return false;
  uint64_t counts[256] = {};
  const auto count = [&](const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) ++counts[p[i]];
  };
  if (bytes.size <= kPieces * kSmallest) {
    count(bytes.data, bytes.size);
  } else {
    const size_t step = (bytes.size - kSmallest) / (kPieces - 1);
    for (size_t k = 0; k < kPieces; ++k) count(bytes.data + k * step, kSmallest);
  }
  // n is at most 2^24 here: 256 n^2 fits 64 bits.
  uint64_t n = 0, pairs = 0;
  for (uint64_t c : counts) {
    n += c;
    pairs += c * c;
  }
  return 256 * pairs <= 2 * n * n;
}

bool AgreeInPlace(ByteView a, ByteView b) {
  const size_t n = a.size < b.size ? a.size : b.size;
  size_t equal = 0;
  for (size_t i = 0; i < n; ++i) equal += a.data[i] == b.data[i] ? 1 : 0;
  return n > 0 && equal >= n / 8;
}

}  // namespace rtp
