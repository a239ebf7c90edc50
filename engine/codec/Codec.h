#pragma once
// The entropy coding of patches: every stream of a patch is stored as it is or compressed by one of the
// codecs of the table below, whichever is smallest. A codec is its table entry (CodecTable.cpp), its
// decoder and its encoder (Lzma.h for LZMA): the reader, the writer, the apply and the tools ask the
// table, so adding a codec touches the table, the encoders' list (CodecEncode.cpp) and its own files.
// LZMA was chosen over zlib and zstd for its size: see the README's engine section.
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/base/Stream.h"

namespace rtp {

// A codec's number in a patch. LzmaAfterOld is LZMA whose dictionary starts with the patch's old space:
// a new byte may copy from any old one, as the covers do, in LZMA's own parse. InDirectory is a small
// stream whose bytes the directory holds, coded with it (format 4 on): a small patch pays for one coder.
// LzmaParts is a large stream coded as LZMA in two halves, the second as if the first had been coded
// just before it (format 5 on): the builder codes them at once, on two cores. Differences codes the
// difference bytes of covers, each told by the old bytes around it (format 6 on, that stream only): its
// decoder is given them as the apply reads them (DifferenceModel.h). LzmaAfterOldParts is a large
// stream coded after the old space in two parts, the second after the old space and the first (format 7
// on): both parts read the old space, on two cores.
enum class Codec : uint8_t {
  Stored = 0,
  Lzma = 1,
  LzmaAfterOld = 2,
  InDirectory = 3,
  LzmaParts = 4,
  Differences = 5,
  LzmaAfterOldParts = 6
};

// The old bytes a difference byte is told by: this many before it and after it within its cover.
constexpr int kContextBefore = 2;
constexpr int kContextAfter = 4;

// The memory the apply's stream decoders may take together: with its buffers, a run stays well under
// 64 MiB in a 32-bit process.
constexpr uint64_t kMaxDecoderMemory = 40u << 20;

// The patch's old space (its sources end to end, as the covers see them), for a codec that reads it.
class OldBytes {
 public:
  virtual uint64_t Size() const = 0;
  // False when they cannot be read (the reader keeps why), or when the run is to stop.
  virtual bool Read(uint64_t at, uint8_t* out, size_t length) = 0;

 protected:
  ~OldBytes() = default;
};

// Decodes one stream of a codec, from its stored bytes as they come.
class CodecDecoder {
 public:
  virtual ~CodecDecoder() = default;
  // Ready to decode a stream of `decodedSize` bytes whose first stored bytes (its properties, if any)
  // `input` holds; `old` is null for a stream outside the streams of steps. False when they are
  // malformed or `old` cannot be read, or when memory runs out (then `noMemory`).
  virtual bool Open(StreamReader& input, uint64_t decodedSize, OldBytes* old, bool* noMemory) = 0;
  // Decodes from `*in` (moved past what was used) into `out`, at most `room` bytes, *made of them. False
  // when the data is damaged or ends the stream early.
  virtual bool Decode(ByteView* in, uint8_t* out, size_t room, size_t* made) = 0;
  // A codec of differences decodes only here, and not with Decode: `length` bytes whose old bytes are
  // old[0..length), readable from old[-kContextBefore] to old[length - 1 + kContextAfter], the first
  // beginning a run of differences when `runStart`. False when the data is damaged, or for other codecs.
  virtual bool DecodeDifferences(const uint8_t* old, size_t length, bool runStart, uint8_t* out) {
    (void)old, (void)length, (void)runStart, (void)out;
    return false;
  }
  virtual bool TakesDifferences() const { return false; }
};

struct CodecEntry {
  Codec id;
  const char* name;
  // The directory holds the stream's decoded size; without it, the stream decodes to its stored bytes.
  bool keepsDecodedSize;
  // Its decoder reads the old space.
  bool readsOld;
  // The memory the decoder holds for a stream of `decodedSize` bytes after an old space of `oldSize`
  // bytes: the apply's bound counts it.
  uint64_t (*decoderMemory)(uint64_t decodedSize, uint64_t oldSize);
  // A new decoder (null when memory runs out). Null for a codec whose stored bytes are the stream.
  std::unique_ptr<CodecDecoder> (*newDecoder)();
};

// The entry of the codec a patch numbers `number`, or null when no codec has that number.
const CodecEntry* FindCodec(uint8_t number);
const CodecEntry& EntryOf(Codec codec);

// Encodes `in` with each encoder's settings (at most `tries` of them; 0 for all that suit its size) and
// keeps the smallest result, or the bytes as they are when no compression is smaller; the encoders that
// read the old space are tried when `old` holds it. The same input always gives the same output. False
// when memory runs out.
// With `from` above 0, *out and *codec already hold the best of the settings before it, which the
// others must beat: a stream tried once need not be encoded again with the same setting. An encoder
// may take `threads` threads; the output does not depend on them. `before`, when given, is one setting
// already coded from these bytes (started early, on a core that was free), which is not coded again.
struct CodedBefore {
  Codec codec;
  size_t setting;
  const std::vector<uint8_t>* bytes;
};
bool EncodeStream(ByteView in, std::vector<uint8_t>* out, Codec* codec, size_t tries = 0, size_t from = 0,
                  ByteView old = ByteView(), int threads = 1, const CodedBefore* before = nullptr);

// Whether `storedSize` bytes coded from `decodedSize` saved too little to call them compressed (packed
// assets, random bytes): less than a 64th.
inline bool DidNotCompress(uint64_t storedSize, uint64_t decodedSize) {
  return storedSize >= decodedSize - decodedSize / 64;
}

// The difference bytes of covers with what tells them: per run of them (`runs` holds their lengths),
// kContextBefore old bytes, the old bytes under the run and kContextAfter after it (zero outside the
// cover). Codes them with the Differences codec; false when memory runs out. With `sample` above 0,
// *codedSample is what the first `sample` bytes came to.
struct DifferenceRuns {
  std::vector<uint64_t> lengths;
  std::vector<uint8_t> around;
};
bool EncodeDifferences(ByteView in, const DifferenceRuns& runs, std::vector<uint8_t>* out, size_t sample = 0,
                       size_t* codedSample = nullptr);

// Decodes one stream of a patch in pieces: exactly `decodedSize` bytes from `storedSize` bytes at
// `offset` (the caller checks their CRC-32C). Every failure (damaged data, too little or too
// much of it, a decoder that asks for more memory than a stream may take) makes Read false and stays.
class StreamDecoder {
 public:
  StreamDecoder();
  ~StreamDecoder();
  StreamDecoder(const StreamDecoder&) = delete;
  StreamDecoder& operator=(const StreamDecoder&) = delete;

  // False when the stream is malformed (its properties), its codec reads an old space that `old` does not
  // give, or memory runs out (then `noMemory`).
  bool Open(Source& patch, uint64_t offset, uint64_t storedSize, uint64_t decodedSize, Codec codec,
            bool* noMemory, OldBytes* old = nullptr);
  // Exactly `length` bytes.
  bool Read(uint8_t* out, size_t length);
  // Exactly `length` difference bytes over old[0..length) (see CodecDecoder::DecodeDifferences); a
  // stream of another codec ignores the old bytes.
  bool ReadDifferences(const uint8_t* old, size_t length, bool runStart, uint8_t* out);
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

  std::unique_ptr<StreamReader> mInput;
  // Null while the stored bytes are read as they are.
  std::unique_ptr<CodecDecoder> mDecoder;
  std::unique_ptr<uint8_t[]> mBuffer;
  size_t mCapacity = 0;
  size_t mStart = 0;
  size_t mEnd = 0;
  uint64_t mDecodedLeft = 0;
  ByteView mPending;  // stored bytes taken from the input, not yet given to the decoder
  bool mFailed = false;
};

}  // namespace rtp
