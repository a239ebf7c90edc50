#include "engine/codec/Codec.h"
#include "engine/codec/LzmaMemory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/base/Crc32c.h"

extern "C" {
#include <LzmaDec.h>
}

namespace rtp {

namespace {

constexpr size_t kPropsSize = LZMA_PROPS_SIZE;
constexpr size_t kDecodeBuffer = 64 * 1024;

}  // namespace

struct StreamDecoder::Lzma {
  CLzmaDec state;
  bool allocated = false;
  Lzma() { LzmaDec_Construct(&state); }
  ~Lzma() {
    if (allocated) LzmaDec_Free(&state, LzmaHeap());
  }
};

StreamDecoder::StreamDecoder() = default;
StreamDecoder::~StreamDecoder() = default;

bool StreamDecoder::Open(Source& patch, uint64_t offset, uint64_t storedSize, uint64_t decodedSize,
                         Codec codec, bool* noMemory) {
  *noMemory = false;
  mCodec = codec;
  mDecodedLeft = decodedSize;
  mInput.reset(new (std::nothrow) StreamReader(patch, offset, storedSize));
  if (!mInput || !mInput->Ok()) return !(*noMemory = true);
  if (codec == Codec::Stored) return storedSize == decodedSize;
  if (codec != Codec::Lzma) return false;
  uint8_t props[kPropsSize];
  if (storedSize < 1 || !mInput->Read(props, 1)) return false;
  const uint32_t dictionary = DictionaryFor(decodedSize);
  for (size_t i = 1; i < kPropsSize; ++i) props[i] = static_cast<uint8_t>(dictionary >> (8 * (i - 1)));
  CLzmaProps parsed;
  if (LzmaProps_Decode(&parsed, props, kPropsSize) != SZ_OK) return false;
  mLzma.reset(new (std::nothrow) Lzma);
  mCapacity = static_cast<size_t>(std::min<uint64_t>(kDecodeBuffer, std::max<uint64_t>(decodedSize, 1)));
  mBuffer = NewBytes(mCapacity);
  if (!mLzma || !mBuffer || LzmaDec_Allocate(&mLzma->state, props, kPropsSize, LzmaHeap()) != SZ_OK)
    return !(*noMemory = true);
  mLzma->allocated = true;
  LzmaDec_Init(&mLzma->state);
  // The data's first byte, always zero, is not stored.
  static const uint8_t kZero = 0;
  SizeT outLen = 0, inLen = 1;
  ELzmaStatus status;
  return LzmaDec_DecodeToBuf(&mLzma->state, mBuffer.get(), &outLen, &kZero, &inLen, LZMA_FINISH_ANY,
                             &status) == SZ_OK &&
         inLen == 1;
}

bool StreamDecoder::Refill() {
  if (mFailed || mDecodedLeft == 0) return false;
  if (mCodec == Codec::Stored) return false;
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
    SizeT outLen = want - mEnd;
    SizeT inLen = mPending.size;
    ELzmaStatus status;
    const SRes result = LzmaDec_DecodeToBuf(&mLzma->state, mBuffer.get() + mEnd, &outLen, mPending.data,
                                            &inLen, LZMA_FINISH_ANY, &status);
    mPending.data += inLen;
    mPending.size -= inLen;
    mEnd += outLen;
    if (result != SZ_OK || status == LZMA_STATUS_FINISHED_WITH_MARK || (outLen == 0 && inLen == 0)) {
      mFailed = true;
      return false;
    }
  }
  mDecodedLeft -= mEnd;
  return true;
}

bool StreamDecoder::Take(size_t most, ByteView* out) {
  if (mFailed || most == 0) return false;
  if (mCodec == Codec::Stored) {
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
  // The LZMA decoder may not have asked for the last stored bytes (the coder's flush): they are read.
  while (mCodec == Codec::Lzma && mInput->Remaining()) {
    ByteView piece;
    if (!mInput->Take(kChunkSize, &piece)) return false;
  }
  return mInput->Remaining() == 0;
}

}  // namespace rtp
