#pragma once
// The LZMA codecs (the LZMA SDK's encoder and decoder). A stream is one property byte (literal context,
// literal position and position bits, as LZMA codes them) followed by the raw LZMA data without an end
// mark and without its first byte, which is always zero. Its decoded length is kept in the directory,
// and its dictionary follows from it (DictionaryFor): a small patch pays no fixed cost.
// LzmaAfterOld is LZMA as if the old space had been coded just before the stream: the decoder's
// dictionary starts holding the old space (its position is the old space's size, its last byte the
// context of the first literal), so a match may reach into it; its dictionary is WindowAfterOld.
// LzmaParts is the part sizes (the first's decoded size, then its coded size without the property byte,
// as varints), the property byte, then the data of each part without its first byte. The first part is
// a stream of its own; the second goes on in the same dictionary from where the first ended, with the
// coder's state (probabilities, repeated distances, the range coder) set afresh. Its dictionary is
// DictionaryFor of the whole.
// LzmaAfterOldParts is LzmaParts' layout after the old space: the dictionary starts holding the old space
// as LzmaAfterOld's does, and the second part goes on from where the first ended. Its dictionary is
// WindowAfterOld of the whole.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/codec/Codec.h"

namespace rtp {

// The largest dictionary a stream may ask for: the apply's memory holds at most a few of them.
constexpr uint32_t kMaxDictionary = 16u << 20;

// The smallest power of two that holds `bytes`, from 4 KiB up to `most`.
inline uint32_t DictionaryHolding(uint64_t bytes, uint32_t most) {
  uint32_t dictionary = 1u << 12;
  while (dictionary < bytes && dictionary < most) dictionary <<= 1;
  return dictionary;
}

// The dictionary of a stream that decodes to `decodedSize` bytes: a small patch pays no fixed cost.
inline uint32_t DictionaryFor(uint64_t decodedSize) {
  return DictionaryHolding(decodedSize, kMaxDictionary);
}

// The largest dictionary of a stream after the old space: the apply's memory holds it with little else.
constexpr uint32_t kMaxOldWindow = 32u << 20;

// The dictionary of a stream of `decodedSize` bytes after an old space of `oldSize`: both, rounded up to
// whole 64 KiB, at most kMaxOldWindow; 0 when the old space alone does not fit. Not a power of two: the
// encoder's match finder and the decoder's buffer take memory in proportion to it. (A stream coded with a
// larger dictionary decodes alike: no match reaches before the old space's start.)
inline uint32_t WindowAfterOld(uint64_t oldSize, uint64_t decodedSize) {
  constexpr uint64_t kStep = 64 * 1024;
  if (oldSize > kMaxOldWindow) return 0;
  const uint64_t both = (oldSize + decodedSize + kStep - 1) / kStep * kStep;
  return static_cast<uint32_t>(std::max<uint64_t>(kStep, std::min<uint64_t>(both, kMaxOldWindow)));
}

uint64_t LzmaDecoderMemory(uint64_t decodedSize, uint64_t oldSize);
uint64_t LzmaAfterOldMemory(uint64_t decodedSize, uint64_t oldSize);
std::unique_ptr<CodecDecoder> NewLzmaDecoder();
std::unique_ptr<CodecDecoder> NewLzmaAfterOldDecoder();
std::unique_ptr<CodecDecoder> NewLzmaPartsDecoder();
std::unique_ptr<CodecDecoder> NewLzmaAfterOldPartsDecoder();

// The encoders' settings for a stream of `size` bytes, tried in order (after an old space of `oldSize`:
// none when it does not fit the window); false when memory runs out or the setting cannot encode `in`.
size_t LzmaSettingsFor(uint64_t size, uint64_t oldSize);
bool EncodeLzma(ByteView in, ByteView old, size_t setting, int threads, std::vector<uint8_t>* out);
size_t LzmaPartsSettingsFor(uint64_t size, uint64_t oldSize);
// LzmaParts is not tried where LzmaAfterOldParts is, which reads more before each part.
bool LzmaPartsTriedFor(uint64_t size, uint64_t oldSize);
bool EncodeLzmaParts(ByteView in, ByteView old, size_t setting, int threads, std::vector<uint8_t>* out);
size_t LzmaAfterOldSettingsFor(uint64_t size, uint64_t oldSize);
bool EncodeLzmaAfterOld(ByteView in, ByteView old, size_t setting, int threads, std::vector<uint8_t>* out);
size_t LzmaAfterOldPartsSettingsFor(uint64_t size, uint64_t oldSize);
bool EncodeLzmaAfterOldParts(ByteView in, ByteView old, size_t setting, int threads,
                             std::vector<uint8_t>* out);
// The longest match LZMA codes.
constexpr uint16_t kLongestLzmaMatch = 273;
// For each byte of a stream coded after the old space, the longest match there of the bytes from it,
// found beforehand: its length (0: none) and where it starts in the old space.
struct OldMatches {
  std::vector<uint16_t> length;
  std::vector<uint32_t> from;
};
// The first setting of EncodeLzmaAfterOld, its match finder reading the stream only: the old space's
// matches are `matches`. It takes a stream's time, not the old space's. With two threads, a stream of
// kPartedStream bytes or more is coded in two parts as LzmaAfterOldParts lays them out (*codec says
// which), the second coder reading the last kPartReach bytes of the first (18 MB of edited code, 5.6 MB
// of literals: 4 -> 2.8 s, 0.2 % larger).
bool EncodeLzmaAfterOldMatched(ByteView in, ByteView old, const OldMatches& matches, int threads,
                               std::vector<uint8_t>* out, Codec* codec);
// Whether a stream of `size` bytes after an old space of `oldSize` is better coded so, its matches found
// beforehand: one far smaller than the old space, which reading would take most of the time, or a large
// one, which hash chains over the old space would code slowly and larger.
bool AfterOldMatchedBeforehand(uint64_t size, uint64_t oldSize);
// Whether the first setting of EncodeLzmaAfterOld reads the old space into binary trees (about 0.4 us a
// byte, the longest task of a tree's last coding): worth starting on a free core before it is known
// whether `size` bytes of literals will be kept.
bool AfterOldReadsSlowly(uint64_t size, uint64_t oldSize);
// A stream at least this large is coded in parts: LzmaAfterOldParts after an old space of at most 12 MiB,
// else LzmaParts (beside LzmaAfterOld whole, where the old space fits its window), where the first
// kPartReach bytes before the second part are what its coder reads ahead of it. The first part ends at
// a multiple of 16 bytes, so positions have the low bits (LZMA's position contexts) the decoder gives
// them.
constexpr uint64_t kPartedStream = 2u << 20;
constexpr size_t kPartReach = 1u << 20;
// A quick guess at what a large stream comes to, from samples of it coded alone, in proportion: one of
// kPartedStream bytes or more whose samples hardly compress, or one of `from` bytes or more (at least
// kPartedStream); UINT64_MAX for any other stream. Samples coded alone come out larger than the stream
// would (18 MB of edited code's 5.6 MB of literals: 17 %), so guesses are compared with guesses.
constexpr uint64_t kEstimatedStream = 8u << 20;
uint64_t EstimateLarge(ByteView in, uint64_t from = kEstimatedStream);

}  // namespace rtp
