#pragma once
// Byte views and an owned byte block whose allocation can fail without throwing: client files and patch
// payloads can be large, and the engine lives in a 32-bit process.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

namespace rtp {

struct ByteView {
  const uint8_t* data = nullptr;
  size_t size = 0;

  ByteView() = default;
  ByteView(const uint8_t* bytes, size_t length) : data(bytes), size(length) {}
  explicit ByteView(const std::string& text)
      : data(reinterpret_cast<const uint8_t*>(text.data())), size(text.size()) {}
};

class Buffer {
 public:
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&&) noexcept = default;
  Buffer& operator=(Buffer&&) noexcept = default;

  // Discards the contents and holds `size` zero bytes; false (and empty) when memory runs out.
  bool Resize(size_t size) {
    mData.reset();
    mSize = 0;
    // One byte at least, so data() is never null (a null pointer may not reach memcpy, even for 0 bytes).
    mData.reset(new (std::nothrow) uint8_t[size ? size : 1]());
    if (!mData) return false;
    mSize = size;
    return true;
  }
  bool Assign(ByteView bytes);

  uint8_t* data() { return mData.get(); }
  const uint8_t* data() const { return mData.get(); }
  size_t size() const { return mSize; }
  ByteView view() const { return ByteView(mData.get(), mSize); }

 private:
  std::unique_ptr<uint8_t[]> mData;
  size_t mSize = 0;
};

// Little-endian fields.
inline uint16_t ReadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void WriteU16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}
inline void WriteU32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace rtp
