// The LZMA codec's decoder (the LZMA SDK's), linked into the apply.
#include <algorithm>
#include <new>

#include "engine/codec/Lzma.h"
#include "engine/codec/LzmaMemory.h"

extern "C" {
#include <LzmaDec.h>
}

namespace rtp {

namespace {

class LzmaDecoder : public CodecDecoder {
 public:
  LzmaDecoder() { LzmaDec_Construct(&mState); }
  ~LzmaDecoder() override {
    if (mAllocated) LzmaDec_Free(&mState, LzmaHeap());
  }

  bool Open(StreamReader& input, uint64_t decodedSize, bool* noMemory) override {
    uint8_t props[LZMA_PROPS_SIZE];
    if (!input.Remaining() || !input.Read(props, 1)) return false;
    const uint32_t dictionary = DictionaryFor(decodedSize);
    for (size_t i = 1; i < LZMA_PROPS_SIZE; ++i) props[i] = static_cast<uint8_t>(dictionary >> (8 * (i - 1)));
    CLzmaProps parsed;
    if (LzmaProps_Decode(&parsed, props, LZMA_PROPS_SIZE) != SZ_OK) return false;
    if (LzmaDec_Allocate(&mState, props, LZMA_PROPS_SIZE, LzmaHeap()) != SZ_OK) return !(*noMemory = true);
    mAllocated = true;
    LzmaDec_Init(&mState);
    // The data's first byte, always zero, is not stored.
    static const uint8_t kZero = 0;
    uint8_t none;
    SizeT outLen = 0, inLen = 1;
    ELzmaStatus status;
    return LzmaDec_DecodeToBuf(&mState, &none, &outLen, &kZero, &inLen, LZMA_FINISH_ANY, &status) == SZ_OK &&
           inLen == 1;
  }

  bool Decode(ByteView* in, uint8_t* out, size_t room, size_t* made) override {
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

 private:
  CLzmaDec mState;
  bool mAllocated = false;
};

}  // namespace

uint64_t LzmaDecoderMemory(uint64_t decodedSize) {
  return std::min<uint64_t>(kMaxDictionary, decodedSize);
}

std::unique_ptr<CodecDecoder> NewLzmaDecoder() {
  return std::unique_ptr<CodecDecoder>(new (std::nothrow) LzmaDecoder);
}

}  // namespace rtp
