#include "engine/base/Stream.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace rtp {

std::unique_ptr<uint8_t[]> NewBytes(size_t size) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size ? size : 1]);
}

bool MemorySource::ReadAt(uint64_t offset, uint8_t* out, size_t length) {
  if (offset > mBytes.size || length > mBytes.size - offset) return false;
  if (length) std::memcpy(out, mBytes.data + offset, length);
  return true;
}

bool MemorySink::WriteAt(uint64_t offset, ByteView view) {
  if (offset > bytes.size()) bytes.resize(static_cast<size_t>(offset));
  const size_t at = static_cast<size_t>(offset);
  if (at + view.size > bytes.size()) bytes.resize(at + view.size);
  if (view.size) std::memcpy(&bytes[at], view.data, view.size);
  return true;
}

StreamReader::StreamReader(Source& source, uint64_t offset, uint64_t length)
    : mSource(source), mOffset(offset), mLength(length) {
  mCapacity = static_cast<size_t>(std::min<uint64_t>(kChunkSize, length));
  if (mCapacity) mBuffer = NewBytes(mCapacity);
}

bool StreamReader::Fill() {
  if (mStart < mEnd) return true;
  if (!mBuffer || mFailed || mConsumed >= mLength) return false;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(mCapacity, mLength - mConsumed));
  if (!mSource.ReadAt(mOffset + mConsumed, mBuffer.get(), want)) {
    mFailed = true;
    return false;
  }
  mStart = 0;
  mEnd = want;
  return true;
}

bool StreamReader::Take(size_t most, ByteView* out) {
  if (most == 0 || !Fill()) return false;
  const size_t length = std::min(most, mEnd - mStart);
  *out = ByteView(mBuffer.get() + mStart, length);
  mStart += length;
  mConsumed += length;
  return true;
}

bool StreamReader::Read(uint8_t* out, size_t length) {
  if (length > Remaining()) return false;
  for (size_t done = 0; done < length;) {
    ByteView piece;
    if (!Take(length - done, &piece)) return false;
    std::memcpy(out + done, piece.data, piece.size);
    done += piece.size;
  }
  return true;
}

WindowReader::WindowReader(Source& source) : mSource(source), mSize(source.Size()) {
  mCapacity = static_cast<size_t>(std::min<uint64_t>(kChunkSize, mSize));
  if (mCapacity) mBuffer = NewBytes(mCapacity);
}

bool WindowReader::Load(uint64_t offset) {
  const size_t want = static_cast<size_t>(std::min<uint64_t>(mCapacity, mSize - offset));
  mWindowLength = 0;
  if (!mSource.ReadAt(offset, mBuffer.get(), want)) return false;
  mWindowAt = offset;
  mWindowLength = want;
  return true;
}

bool WindowReader::Get(uint64_t offset, size_t most, ByteView* out) {
  if (!mBuffer || most == 0 || offset >= mSize) return false;
  if ((offset < mWindowAt || offset >= mWindowAt + mWindowLength) && !Load(offset)) return false;
  const size_t at = static_cast<size_t>(offset - mWindowAt);
  *out = ByteView(mBuffer.get() + at, std::min(most, mWindowLength - at));
  return true;
}

bool WindowReader::GetAll(uint64_t offset, size_t length, ByteView* out) {
  if (!mBuffer || length == 0 || length > mCapacity || offset > mSize || length > mSize - offset)
    return false;
  if ((offset < mWindowAt || offset + length > mWindowAt + mWindowLength) && !Load(offset)) return false;
  *out = ByteView(mBuffer.get() + (offset - mWindowAt), length);
  return true;
}

SinkWriter::SinkWriter(Sink& sink, uint64_t offset, uint64_t expected)
    : mSink(sink), mOffset(offset), mCapacity(static_cast<size_t>(std::min<uint64_t>(kChunkSize, expected))) {
  if (mCapacity == 0) mCapacity = 1;
  mBuffer = NewBytes(mCapacity);
}

bool SinkWriter::Put(ByteView bytes) {
  if (!mBuffer) return false;
  mCount += bytes.size;
  // A whole buffer's worth with nothing held goes out as it is, without a copy.
  if (mFilled == 0 && bytes.size >= mCapacity) {
    if (!mSink.WriteAt(mOffset, bytes)) return false;
    mOffset += bytes.size;
    return true;
  }
  while (bytes.size) {
    if (mFilled == mCapacity && !Flush()) return false;
    const size_t length = std::min(bytes.size, mCapacity - mFilled);
    std::memcpy(mBuffer.get() + mFilled, bytes.data, length);
    mFilled += length;
    bytes = ByteView(bytes.data + length, bytes.size - length);
  }
  return true;
}

bool SinkWriter::Flush() {
  if (mFilled == 0) return true;
  if (!mSink.WriteAt(mOffset, ByteView(mBuffer.get(), mFilled))) return false;
  mOffset += mFilled;
  mFilled = 0;
  return true;
}

void SinkWriter::Restart(uint64_t offset) {
  mOffset = offset;
  mFilled = 0;
  mCount = 0;
}

}  // namespace rtp
