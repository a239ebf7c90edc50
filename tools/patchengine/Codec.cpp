#include "patchengine/Codec.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "patchengine/Crc32c.h"

extern "C" {
#include <LzmaDec.h>
#ifndef RTP_DECODER_ONLY
#include <LzmaEnc.h>
#endif
}

namespace rtp {

namespace {

void* AllocBytes(void*, size_t size) { return std::malloc(size); }
void FreeBytes(void*, void* address) { std::free(address); }
ISzAlloc kAlloc = {AllocBytes, FreeBytes};

constexpr size_t kPropsSize = LZMA_PROPS_SIZE;
constexpr size_t kDecodeBuffer = 64 * 1024;

#ifndef RTP_DECODER_ONLY
// Literal context bits, literal position bits, position bits: text likes the default, code and the
// difference streams of executables the others.
struct LiteralSetting {
  int lc, lp, pb;
};
constexpr LiteralSetting kSettings[] = {{0, 0, 0}, {3, 0, 2}, {1, 0, 0}, {2, 0, 0}, {0, 1, 1}, {4, 0, 0}};
// Large streams try fewer settings: the build would take long, and they differ least there.
constexpr size_t kLargeStream = 1u << 20;

bool EncodeLzma(ByteView in, uint32_t dictionary, const LiteralSetting& setting, std::vector<uint8_t>* out) {
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = 9;
  props.dictSize = dictionary;
  props.lc = setting.lc;
  props.lp = setting.lp;
  props.pb = setting.pb;
  // Long fast bytes find the long runs of difference streams; large streams take shorter ones for time.
  props.fb = in.size >= kLargeStream ? 128 : 273;
  props.numThreads = 1;
  props.writeEndMark = 0;
  const size_t capacity = in.size + in.size / 2 + 1024;
  out->assign(kPropsSize + capacity, 0);
  SizeT destLen = capacity;
  SizeT propsSize = kPropsSize;
  const SRes result = LzmaEncode(out->data() + kPropsSize, &destLen, in.data, in.size, &props, out->data(),
                                 &propsSize, 0, nullptr, &kAlloc, &kAlloc);
  if (result != SZ_OK || propsSize != kPropsSize) return false;
  out->resize(kPropsSize + destLen);
  return true;
}
#endif

}  // namespace

#ifndef RTP_DECODER_ONLY
bool EncodeStream(ByteView in, uint32_t dictionaryCap, std::vector<uint8_t>* out, Codec* codec, size_t most) {
  out->assign(in.data, in.data + in.size);
  *codec = Codec::Stored;
  if (in.size < 16) return true;
  uint32_t dictionary = 1u << 12;
  while (dictionary < in.size && dictionary < std::min(dictionaryCap, kMaxDictionary)) dictionary <<= 1;
  size_t tries = in.size >= kLargeStream ? 2 : sizeof kSettings / sizeof kSettings[0];
  if (most) tries = std::min(tries, most);
  std::vector<uint8_t> candidate;
  for (size_t i = 0; i < tries; ++i) {
    if (!EncodeLzma(in, dictionary, kSettings[i], &candidate)) continue;
    // Data that does not compress (packed assets, random bytes) is not tried again.
    const bool incompressible = candidate.size() >= in.size - in.size / 64;
    if (candidate.size() < out->size()) {
      out->swap(candidate);
      *codec = Codec::Lzma;
    }
    if (incompressible) break;
  }
  return true;
}
#endif

struct StreamDecoder::Lzma {
  CLzmaDec state;
  bool allocated = false;
  Lzma() { LzmaDec_Construct(&state); }
  ~Lzma() {
    if (allocated) LzmaDec_Free(&state, &kAlloc);
  }
};

StreamDecoder::StreamDecoder() = default;
StreamDecoder::~StreamDecoder() = default;

bool StreamDecoder::Open(Source& patch, uint64_t offset, uint64_t storedSize, uint64_t decodedSize, Codec codec,
                         bool* noMemory) {
  *noMemory = false;
  mCodec = codec;
  mDecodedLeft = decodedSize;
  mInput.reset(new (std::nothrow) StreamReader(patch, offset, storedSize));
  if (!mInput || !mInput->Ok()) return !(*noMemory = true);
  if (codec == Codec::Stored) return storedSize == decodedSize;
  if (codec != Codec::Lzma) return false;
  uint8_t props[kPropsSize];
  if (storedSize < kPropsSize || !mInput->Read(props, kPropsSize)) return false;
  mCrc = Crc32c(ByteView(props, kPropsSize));
  CLzmaProps parsed;
  if (LzmaProps_Decode(&parsed, props, kPropsSize) != SZ_OK || parsed.dicSize > kMaxDictionary) return false;
  // Small streams need no dictionary beyond their own length.
  mLzma.reset(new (std::nothrow) Lzma);
  mCapacity = static_cast<size_t>(std::min<uint64_t>(kDecodeBuffer, std::max<uint64_t>(decodedSize, 1)));
  mBuffer = NewBytes(mCapacity);
  if (!mLzma || !mBuffer || LzmaDec_Allocate(&mLzma->state, props, kPropsSize, &kAlloc) != SZ_OK)
    return !(*noMemory = true);
  mLzma->allocated = true;
  LzmaDec_Init(&mLzma->state);
  return true;
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
      mCrc = Crc32c(mPending, mCrc);
    }
    SizeT outLen = want - mEnd;
    SizeT inLen = mPending.size;
    ELzmaStatus status;
    const SRes result = LzmaDec_DecodeToBuf(&mLzma->state, mBuffer.get() + mEnd, &outLen, mPending.data, &inLen,
                                            LZMA_FINISH_ANY, &status);
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
    if (!mInput->Take(static_cast<size_t>(std::min<uint64_t>(most, mDecodedLeft)), out)) return !(mFailed = true);
    mCrc = Crc32c(*out, mCrc);
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

bool StreamDecoder::Finish(uint32_t crc) {
  if (mFailed || Left() != 0) return false;
  if (mCodec == Codec::Lzma) {
    // Whatever stored bytes the decoder has not asked for yet are summed too.
    while (mInput->Remaining()) {
      ByteView piece;
      if (!mInput->Take(kChunkSize, &piece)) return false;
      mCrc = Crc32c(piece, mCrc);
    }
  }
  return mInput->Remaining() == 0 && mCrc == crc;
}

}  // namespace rtp
