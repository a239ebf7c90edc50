#pragma once
// The entropy coding of patches: every stream of a patch is stored as it is or compressed with
// LZMA (the LZMA SDK's encoder and decoder), whichever is smaller. An LZMA stream is one property byte
// (literal context, literal position and position bits, as LZMA codes them) followed by the raw LZMA
// data without an end mark and without its first byte, which is always zero. Its decoded length is kept
// by the caller, and its dictionary follows from it (DictionaryFor): a small patch pays no fixed cost.
// LZMA was chosen over zlib and zstd for its size: see the README's engine section.
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/base/Stream.h"

namespace rtp {

enum class Codec : uint8_t { Stored = 0, Lzma = 1 };

// The largest dictionary a stream may ask for: the apply's memory holds at most a few of them.
constexpr uint32_t kMaxDictionary = 16u << 20;

// The dictionary of a stream that decodes to `decodedSize` bytes: the smallest power of two that holds
// it, from 4 KiB up to kMaxDictionary.
inline uint32_t DictionaryFor(uint64_t decodedSize) {
  uint32_t dictionary = 1u << 12;
  while (dictionary < decodedSize && dictionary < kMaxDictionary) dictionary <<= 1;
  return dictionary;
}

// Encodes `in` with each of a few literal-context settings (at most `tries`; 0 for all that suit its
// size) and keeps the smallest result, or the bytes as they are when no compression is smaller. The same
// input always gives the same output. False when memory runs out.
// With `from` above 0, *out and *codec already hold the best of the settings before it, which the
// others must beat: a stream tried once need not be encoded again with the same setting.
bool EncodeStream(ByteView in, std::vector<uint8_t>* out, Codec* codec, size_t tries = 0, size_t from = 0);

// Decodes one stream of a patch in pieces: exactly `decodedSize` bytes from `storedSize` bytes at
// `offset` (the caller checks their CRC-32C). Every failure (damaged data, too little or too
// much of it, a dictionary beyond kMaxDictionary) makes Read false and stays.
class StreamDecoder {
 public:
  StreamDecoder();
  ~StreamDecoder();
  StreamDecoder(const StreamDecoder&) = delete;
  StreamDecoder& operator=(const StreamDecoder&) = delete;

  // False when the stream is malformed (its properties) or memory runs out (then `noMemory`).
  bool Open(Source& patch, uint64_t offset, uint64_t storedSize, uint64_t decodedSize, Codec codec,
            bool* noMemory);
  // Exactly `length` bytes.
  bool Read(uint8_t* out, size_t length);
  bool ReadNumber(uint64_t* out);
  // Up to `most` bytes in place (at least one while any is left).
  bool Take(size_t most, ByteView* out);
  uint64_t Left() const { return mDecodedLeft + (mEnd - mStart); }
  // True when every decoded byte was read and no stored byte is left over.
  bool Finish();
  // True once a read of the patch itself failed (rather than its data being wrong).
  bool ReadFailed() const { return mInput && mInput->Failed(); }

 private:
  bool Refill();

  struct Lzma;
  std::unique_ptr<StreamReader> mInput;
  std::unique_ptr<Lzma> mLzma;
  Codec mCodec = Codec::Stored;
  std::unique_ptr<uint8_t[]> mBuffer;
  size_t mCapacity = 0;
  size_t mStart = 0;
  size_t mEnd = 0;
  uint64_t mDecodedLeft = 0;
  ByteView mPending;  // stored bytes taken from the input, not yet given to the decoder
  bool mFailed = false;
};

}  // namespace rtp
