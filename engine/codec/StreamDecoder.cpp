// Reading a stream of a patch through its codec's decoder.
#include <algorithm>
#include <cstring>
#include <new>

#include "engine/codec/Codec.h"

namespace rtp {

namespace {

constexpr size_t kDecodeBuffer = 64 * 1024;

}  // namespace

StreamDecoder::StreamDecoder() = default;
StreamDecoder::~StreamDecoder() = default;

bool StreamDecoder::Open(Source& patch, uint64_t offset, uint64_t storedSize, uint64_t decodedSize,
                         Codec codec, bool* noMemory, OldBytes* old) {
  *noMemory = false;
  mDecodedLeft = decodedSize;
  mInput.reset(new (std::nothrow) StreamReader(patch, offset, storedSize));
  if (!mInput || !mInput->Ok()) return !(*noMemory = true);
  const CodecEntry* entry = FindCodec(static_cast<uint8_t>(codec));
  if (!entry || (entry->readsOld && !old)) return false;
  if (!entry->newDecoder) return storedSize == decodedSize;
  mDecoder = entry->newDecoder();
  mCapacity = static_cast<size_t>(std::min<uint64_t>(kDecodeBuffer, std::max<uint64_t>(decodedSize, 1)));
  mBuffer = NewBytes(mCapacity);
  if (!mDecoder || !mBuffer) return !(*noMemory = true);
  return mDecoder->Open(*mInput, decodedSize, old, noMemory);
}

bool StreamDecoder::Refill() {
  if (mFailed || mDecodedLeft == 0 || !mDecoder) return false;
  mStart = 0;
  mEnd = 0;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(mCapacity, mDecodedLeft));
  while (mEnd < want) {
    if (mPending.size == 0) {
      if (!mInput->Remaining() || !mInput->Take(kChunkSize, &mPending)) {
        // The stored bytes ran out before the decoded ones: a damaged or cut stream.
        mFailed = true;
        return false;
      }
    }
    size_t made = 0;
    const bool decoded = mDecoder->Decode(&mPending, mBuffer.get() + mEnd, want - mEnd, &made);
    mEnd += made;
    if (!decoded) {
      mFailed = true;
      return false;
    }
  }
  mDecodedLeft -= mEnd;
  return true;
}

bool StreamDecoder::Take(size_t most, ByteView* out) {
  if (mFailed || most == 0) return false;
  if (!mDecoder) {
    if (mDecodedLeft == 0) return false;
    if (!mInput->Take(static_cast<size_t>(std::min<uint64_t>(most, mDecodedLeft)), out))
      return !(mFailed = true);
    mDecodedLeft -= out->size;
    return true;
  }
  if (mStart == mEnd && !Refill()) return false;
  const size_t n = std::min(most, mEnd - mStart);
  *out = ByteView(mBuffer.get() + mStart, n);
  mStart += n;
  return true;
}

bool StreamDecoder::Read(uint8_t* out, size_t length) {
  while (length) {
    ByteView piece;
    if (!Take(length, &piece)) return false;
    std::memcpy(out, piece.data, piece.size);
    out += piece.size;
    length -= piece.size;
  }
  return true;
}

bool StreamDecoder::ReadDifferences(const uint8_t* old, size_t length, bool runStart, uint8_t* out) {
  if (!mDecoder || !mDecoder->TakesDifferences()) return Read(out, length);
  if (mFailed || length > mDecodedLeft) return !(mFailed = true);
  if (!mDecoder->DecodeDifferences(old, length, runStart, out)) return !(mFailed = true);
  mDecodedLeft -= length;
  return true;
}

bool StreamDecoder::ReadNumber(uint64_t* out) {
  uint64_t value = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    uint8_t b;
    if (!Read(&b, 1)) return false;
    if (shift == 63 && b > 1) return !(mFailed = true);
    value |= static_cast<uint64_t>(b & 0x7F) << shift;
    if (!(b & 0x80)) {
      *out = value;
      return true;
    }
  }
  return !(mFailed = true);
}

bool StreamDecoder::Finish() {
  if (mFailed || Left() != 0) return false;
  // A decoder may not have asked for the last stored bytes (LZMA's flush): they are read.
  while (mDecoder && mInput->Remaining()) {
    ByteView piece;
    if (!mInput->Take(kChunkSize, &piece)) return false;
  }
  return mInput->Remaining() == 0;
}

}  // namespace rtp
