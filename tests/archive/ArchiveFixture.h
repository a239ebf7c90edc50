// Archive files assembled by hand, byte by byte, for the reader's tests (independent of the packer), and
// file sources over memory that count, fail or change their reads.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "archive/EmbedFsFormat.h"

namespace fixture {

inline std::string U32(uint32_t value) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

inline const std::string& Magic() {
  static const std::string magic("EmbedFs 1.0\0", 12);
  return magic;
}

struct Item {
  std::string name;
  std::string data;
};

// A record as stored: size, name length, name, zero byte.
inline std::string Record(uint32_t size, const std::string& name) {
  return U32(size) + U32(static_cast<uint32_t>(name.size())) + name + std::string(1, '\0');
}

inline std::string Directory(const std::vector<Item>& items) {
  std::string out = U32(static_cast<uint32_t>(items.size()));
  for (const Item& item : items) out += Record(static_cast<uint32_t>(item.data.size()), item.name);
  return out;
}

// host, directory, data, trailer: an archive file as the format lays it out.
inline std::string Archive(const std::string& host, const std::vector<Item>& items) {
  std::string out = host + Directory(items);
  for (const Item& item : items) out += item.data;
  return out + U32(static_cast<uint32_t>(host.size())) + Magic();
}

// Deterministic bytes that never hold the magic (no 'E').
inline std::string Noise(size_t length, uint32_t seed) {
  std::string out(length, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < length; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    char c = static_cast<char>(x >> 24);
    out[i] = c == 'E' ? 'e' : c;
  }
  return out;
}

// A file in memory. Counts what is read, and can be told to fail its n-th read (0-based) or its size.
class MemorySource : public embedfs::FileSource {
 public:
  explicit MemorySource(std::string bytes) : mBytes(std::move(bytes)) {}

  bool Size(uint64_t* size) override {
    if (mFailSize) return false;
    *size = mBytes.size();
    return true;
  }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length) override {
    const int read = mReads++;
    if (read == mFailRead) return false;
    if (offset > mBytes.size() || length > mBytes.size() - offset) return false;
    std::memcpy(buffer, mBytes.data() + offset, length);
    mBytesRead += length;
    mRanges.emplace_back(offset, offset + length);
    return true;
  }

  void FailSize() { mFailSize = true; }
  void FailRead(int index) { mFailRead = index; }
  int Reads() const { return mReads; }
  uint64_t BytesRead() const { return mBytesRead; }
  const std::vector<std::pair<uint64_t, uint64_t>>& Ranges() const { return mRanges; }

 private:
  std::string mBytes;
  bool mFailSize = false;
  int mFailRead = -1;
  int mReads = 0;
  uint64_t mBytesRead = 0;
  std::vector<std::pair<uint64_t, uint64_t>> mRanges;
};

// A file of any length that is zero except for the pieces written into it: for sizes no test can store.
class SparseSource : public embedfs::FileSource {
 public:
  explicit SparseSource(uint64_t size) : mSize(size) {}
  void Put(uint64_t offset, const std::string& bytes) { mPieces[offset] = bytes; }

  bool Size(uint64_t* size) override {
    *size = mSize;
    return true;
  }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length) override {
    if (offset > mSize || length > mSize - offset) return false;
    auto* out = static_cast<char*>(buffer);
    std::memset(out, 0, length);
    for (const auto& piece : mPieces) {
      const uint64_t start = piece.first;
      const uint64_t end = start + piece.second.size();
      if (end <= offset || start >= offset + length) continue;
      const uint64_t from = start > offset ? start : offset;
      const uint64_t to = end < offset + length ? end : offset + length;
      std::memcpy(out + (from - offset), piece.second.data() + (from - start), to - from);
    }
    ++mReads;
    return true;
  }
  int Reads() const { return mReads; }

 private:
  uint64_t mSize;
  std::map<uint64_t, std::string> mPieces;
  int mReads = 0;
};

}  // namespace fixture
