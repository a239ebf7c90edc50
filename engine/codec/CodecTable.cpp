// The codecs a patch may use, by their number.
#include "engine/codec/Codec.h"
#include "engine/codec/Differences.h"
#include "engine/codec/Lzma.h"

namespace rtp {

namespace {

uint64_t NoMemory(uint64_t, uint64_t) {
  return 0;
}

constexpr CodecEntry kCodecs[] = {
    {Codec::Stored, "stored", false, false, NoMemory, nullptr},
    {Codec::Lzma, "lzma", true, false, LzmaDecoderMemory, NewLzmaDecoder},
    {Codec::LzmaAfterOld, "lzma after old", true, true, LzmaAfterOldMemory, NewLzmaAfterOldDecoder},
    {Codec::InDirectory, "in the directory", false, false, NoMemory, nullptr},
    {Codec::LzmaParts, "lzma in two parts", true, false, LzmaDecoderMemory, NewLzmaPartsDecoder},
    {Codec::Differences, "differences in context", true, false, DifferencesMemory, NewDifferenceDecoder},
    {Codec::LzmaAfterOldParts, "lzma after old in two parts", true, true, LzmaAfterOldMemory,
     NewLzmaAfterOldPartsDecoder},
};

constexpr size_t kCodecCount = sizeof kCodecs / sizeof kCodecs[0];

constexpr bool NumberedInOrder() {
  for (size_t i = 0; i < kCodecCount; ++i)
    if (static_cast<size_t>(kCodecs[i].id) != i) return false;
  return true;
}
static_assert(NumberedInOrder(), "a codec's entry is at its number");

}  // namespace

const CodecEntry* FindCodec(uint8_t number) {
  return number < kCodecCount ? &kCodecs[number] : nullptr;
}

const CodecEntry& EntryOf(Codec codec) {
  // A Codec comes from FindCodec or from an encoder of the table: it has its entry.
  return kCodecs[static_cast<size_t>(codec)];
}

}  // namespace rtp
