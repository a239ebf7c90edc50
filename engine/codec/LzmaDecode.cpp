// The LZMA codecs' decoder (the LZMA SDK's), linked into the apply.
#include <algorithm>
#include <new>

#include "engine/codec/Lzma.h"
#include "engine/codec/LzmaMemory.h"

extern "C" {
#include <LzmaDec.h>
// The SDK's own reset between the chunks of a stream, which its header does not declare.
void LzmaDec_InitDicAndState(CLzmaDec* p, Bool initDic, Bool initState);
}

namespace rtp {

namespace {

// The old space goes into the dictionary in pieces of this size.
constexpr size_t kPrefillPiece = 1u << 20;

// A varint of the stored bytes as they come; false when it is cut or longer than 64 bits.
bool ReadVarint(StreamReader& input, uint64_t* value) {
  *value = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    uint8_t byte = 0;
    if (!input.Remaining() || !input.Read(&byte, 1)) return false;
    *value |= uint64_t{byte & 0x7Fu} << shift;
    if (!(byte & 0x80)) return true;
  }
  return false;
}

enum class Layout { Alone, AfterOld, Parts, AfterOldParts };

class LzmaDecoder : public CodecDecoder {
 public:
  explicit LzmaDecoder(Layout layout)
      : mAfterOld(layout == Layout::AfterOld || layout == Layout::AfterOldParts),
        mParts(layout == Layout::Parts || layout == Layout::AfterOldParts) {
    LzmaDec_Construct(&mState);
  }
  ~LzmaDecoder() override {
    if (mAllocated) LzmaDec_Free(&mState, LzmaHeap());
  }

  bool Open(StreamReader& input, uint64_t decodedSize, OldBytes* old, bool* noMemory) override {
    if (mParts && !(ReadVarint(input, &mFirstLeft) && ReadVarint(input, &mFirstStoredLeft) &&
                    mFirstLeft > 0 && mFirstLeft < decodedSize && mFirstStoredLeft < input.Remaining()))
      return false;
    uint8_t props[LZMA_PROPS_SIZE];
    if (!input.Remaining() || !input.Read(props, 1)) return false;
    const uint32_t dictionary =
        mAfterOld ? WindowAfterOld(old->Size(), decodedSize) : DictionaryFor(decodedSize);
    if (dictionary == 0) return false;
    for (size_t i = 1; i < LZMA_PROPS_SIZE; ++i) props[i] = static_cast<uint8_t>(dictionary >> (8 * (i - 1)));
    CLzmaProps parsed;
    if (LzmaProps_Decode(&parsed, props, LZMA_PROPS_SIZE) != SZ_OK) return false;
    if (LzmaDec_Allocate(&mState, props, LZMA_PROPS_SIZE, LzmaHeap()) != SZ_OK) return !(*noMemory = true);
    mAllocated = true;
    LzmaDec_Init(&mState);
    if (mAfterOld && !Prefill(*old)) return false;
    return TakeFirstByte();
  }

  bool Decode(ByteView* in, uint8_t* out, size_t room, size_t* made) override {
    if (!mParts) return DecodePart(in, out, room, made);
    *made = 0;
    if (mFirstLeft) {
      // The first part's bytes only, to its end.
      ByteView part(in->data, static_cast<size_t>(std::min<uint64_t>(in->size, mFirstStoredLeft)));
      const size_t given = part.size;
      if (!DecodePart(&part, out, static_cast<size_t>(std::min<uint64_t>(room, mFirstLeft)), made))
        return false;
      in->data += given - part.size;
      in->size -= given - part.size;
      mFirstStoredLeft -= given - part.size;
      mFirstLeft -= *made;
      return true;
    }
    // What the first part's coder flushed beyond its last byte is not needed; the second part goes on in
    // the same dictionary with the coder's state set afresh.
    const size_t skipped = static_cast<size_t>(std::min<uint64_t>(in->size, mFirstStoredLeft));
    in->data += skipped;
    in->size -= skipped;
    mFirstStoredLeft -= skipped;
    if (mFirstStoredLeft) return true;
    mParts = false;
    LzmaDec_InitDicAndState(&mState, False, True);
    return TakeFirstByte();
  }

 private:
  // The data's first byte, always zero, is not stored.
  bool TakeFirstByte() {
    static const uint8_t kZero = 0;
    uint8_t none;
    SizeT outLen = 0, inLen = 1;
    ELzmaStatus status;
    return LzmaDec_DecodeToBuf(&mState, &none, &outLen, &kZero, &inLen, LZMA_FINISH_ANY, &status) == SZ_OK &&
           inLen == 1;
  }

  bool DecodePart(ByteView* in, uint8_t* out, size_t room, size_t* made) {
    SizeT outLen = room;
    SizeT inLen = in->size;
    ELzmaStatus status;
    const SRes result =
        LzmaDec_DecodeToBuf(&mState, out, &outLen, in->data, &inLen, LZMA_FINISH_ANY, &status);
    in->data += inLen;
    in->size -= inLen;
    *made = outLen;
    return result == SZ_OK && status != LZMA_STATUS_FINISHED_WITH_MARK && (outLen != 0 || inLen != 0);
  }

  // The dictionary holds the old space, and the decoder stands where its encoder stood after it.
  bool Prefill(OldBytes& old) {
    const uint64_t size = old.Size();
    if (size > mState.dicBufSize) return false;
    for (uint64_t at = 0; at < size; at += kPrefillPiece) {
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(kPrefillPiece, size - at));
      if (!old.Read(at, mState.dic + at, piece)) return false;
    }
    mState.dicPos = static_cast<SizeT>(size);
    mState.processedPos = static_cast<UInt32>(size);
    if (size >= mState.prop.dicSize) mState.checkDicSize = mState.prop.dicSize;
    return true;
  }

  CLzmaDec mState;
  bool mAfterOld;
  bool mParts;                    // until the second part starts
  uint64_t mFirstLeft = 0;        // decoded bytes of the first part still to make
  uint64_t mFirstStoredLeft = 0;  // its stored bytes not yet taken
  bool mAllocated = false;
};

}  // namespace

uint64_t LzmaDecoderMemory(uint64_t decodedSize, uint64_t) {
  return std::min<uint64_t>(kMaxDictionary, decodedSize);
}

uint64_t LzmaAfterOldMemory(uint64_t decodedSize, uint64_t oldSize) {
  const uint32_t window = WindowAfterOld(oldSize, decodedSize);
  // A stream that cannot be decoded counts as more than any run may take.
  return window ? window : UINT64_MAX / 2;
}

std::unique_ptr<CodecDecoder> NewLzmaDecoder() {
  return std::unique_ptr<CodecDecoder>(new (std::nothrow) LzmaDecoder(Layout::Alone));
}

std::unique_ptr<CodecDecoder> NewLzmaPartsDecoder() {
  return std::unique_ptr<CodecDecoder>(new (std::nothrow) LzmaDecoder(Layout::Parts));
}

std::unique_ptr<CodecDecoder> NewLzmaAfterOldDecoder() {
  return std::unique_ptr<CodecDecoder>(new (std::nothrow) LzmaDecoder(Layout::AfterOld));
}

std::unique_ptr<CodecDecoder> NewLzmaAfterOldPartsDecoder() {
  return std::unique_ptr<CodecDecoder>(new (std::nothrow) LzmaDecoder(Layout::AfterOldParts));
}

}  // namespace rtp
