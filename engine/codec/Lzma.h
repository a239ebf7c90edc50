#pragma once
// The LZMA codec (the LZMA SDK's encoder and decoder). A stream is one property byte (literal context,
// literal position and position bits, as LZMA codes them) followed by the raw LZMA data without an end
// mark and without its first byte, which is always zero. Its decoded length is kept in the directory,
// and its dictionary follows from it (DictionaryFor): a small patch pays no fixed cost.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/codec/Codec.h"

namespace rtp {

// The largest dictionary a stream may ask for: the apply's memory holds at most a few of them.
constexpr uint32_t kMaxDictionary = 16u << 20;

// The dictionary of a stream that decodes to `decodedSize` bytes: the smallest power of two that holds
// it, from 4 KiB up to kMaxDictionary.
inline uint32_t DictionaryFor(uint64_t decodedSize) {
  uint32_t dictionary = 1u << 12;
  while (dictionary < decodedSize && dictionary < kMaxDictionary) dictionary <<= 1;
  return dictionary;
}

uint64_t LzmaDecoderMemory(uint64_t decodedSize);
std::unique_ptr<CodecDecoder> NewLzmaDecoder();

// The encoder's settings for a stream of `size` bytes, tried in order; false when memory runs out or the
// setting cannot encode `in`.
size_t LzmaSettingsFor(uint64_t size);
bool EncodeLzma(ByteView in, size_t setting, std::vector<uint8_t>* out);

}  // namespace rtp
