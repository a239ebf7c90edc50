#pragma once
// Files read and written in pieces: a client file or a patch of a gigabyte passes through a few buffers
// of at most kChunkSize bytes, never through memory of its own size (the engine lives in a 32-bit
// process, whose address space a single such file would fill).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/base/Bytes.h"

namespace rtp {

constexpr size_t kChunkSize = size_t{1} << 20;

// A file read at any offset.
class Source {
 public:
  virtual ~Source() = default;
  virtual uint64_t Size() = 0;
  // Reads exactly `length` bytes at `offset`; false when the file is shorter or reading fails.
  virtual bool ReadAt(uint64_t offset, uint8_t* out, size_t length) = 0;
};

// A file being written, at any offset.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual bool WriteAt(uint64_t offset, ByteView bytes) = 0;
  // Completes the file; a write can still fail here (a full disk is often seen only now).
  virtual bool Close() = 0;
  // Returns once what was written is on the disk, not only in the system's cache. Memory has no disk.
  virtual bool Sync() { return true; }
};

// Receives bytes in order; false stops whoever produces them.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool Put(ByteView bytes) = 0;
};

class MemorySource : public Source {
 public:
  explicit MemorySource(ByteView bytes) : mBytes(bytes) {}
  uint64_t Size() override { return mBytes.size; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t length) override;

 private:
  ByteView mBytes;
};

// A range of another source, seen as a file of its own.
class SliceSource : public Source {
 public:
  SliceSource(Source& whole, uint64_t offset, uint64_t size) : mWhole(whole), mOffset(offset), mSize(size) {}
  uint64_t Size() override { return mSize; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t length) override {
    return offset <= mSize && length <= mSize - offset && mWhole.ReadAt(mOffset + offset, out, length);
  }

 private:
  Source& mWhole;
  uint64_t mOffset;
  uint64_t mSize;
};

// Collects what is written in a string (tests and small patches built in memory).
class MemorySink : public Sink {
 public:
  bool WriteAt(uint64_t offset, ByteView bytes) override;
  bool Close() override { return true; }
  std::string bytes;
};

// A block of `size` bytes that are not cleared; null when memory runs out.
std::unique_ptr<uint8_t[]> NewBytes(size_t size);

// Reads [offset, offset + length) of a source front to back through one buffer.
class StreamReader {
 public:
  StreamReader(Source& source, uint64_t offset, uint64_t length);
  // False when the buffer could not be had.
  bool Ok() const { return mBuffer != nullptr || mLength == 0; }
  // True once a read of the source itself failed (as opposed to reaching the end of the range).
  bool Failed() const { return mFailed; }
  uint64_t Position() const { return mConsumed; }
  uint64_t Remaining() const { return mLength - mConsumed; }
  // Exactly `length` bytes; false when fewer remain or reading fails.
  bool Read(uint8_t* out, size_t length);
  // At least one and at most `most` bytes, in place; false at the end or when reading fails.
  bool Take(size_t most, ByteView* out);

 private:
  bool Fill();

  Source& mSource;
  uint64_t mOffset;
  uint64_t mLength;
  uint64_t mConsumed = 0;
  std::unique_ptr<uint8_t[]> mBuffer;
  size_t mCapacity = 0;
  size_t mStart = 0;  // next byte to hand out
  size_t mEnd = 0;    // end of the buffered bytes
  bool mFailed = false;
};

// Reads a source at any offset through one window of at most kChunkSize bytes that moves to where it
// is asked for, so reads near one another cost one read of the file.
class WindowReader {
 public:
  explicit WindowReader(Source& source);
  bool Ok() const { return mBuffer != nullptr || mSize == 0; }
  uint64_t Size() const { return mSize; }
  // At least one and at most `most` bytes from `offset`, in place; false past the end or on failure.
  bool Get(uint64_t offset, size_t most, ByteView* out);
  // Exactly `length` bytes from `offset` (at most kChunkSize), in place.
  bool GetAll(uint64_t offset, size_t length, ByteView* out);

 private:
  bool Load(uint64_t offset);

  Source& mSource;
  uint64_t mSize;
  std::unique_ptr<uint8_t[]> mBuffer;
  size_t mCapacity = 0;
  uint64_t mWindowAt = 0;
  size_t mWindowLength = 0;
};

// Writes bytes in order to a sink from `offset` on through one buffer, counting them.
class SinkWriter : public ByteSink {
 public:
  // `expected`, when known, keeps the buffer no larger than the file.
  SinkWriter(Sink& sink, uint64_t offset, uint64_t expected = kChunkSize);
  bool Ok() const { return mBuffer != nullptr; }
  bool Put(ByteView bytes) override;
  bool Flush();
  // Drops what was put so far and writes from `offset` again.
  void Restart(uint64_t offset);
  uint64_t Count() const { return mCount; }

 private:
  Sink& mSink;
  uint64_t mOffset;
  std::unique_ptr<uint8_t[]> mBuffer;
  size_t mCapacity;
  size_t mFilled = 0;
  uint64_t mCount = 0;
};

}  // namespace rtp
