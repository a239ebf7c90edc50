// Choosing a stream's codec, linked into the builder only: every encoder's settings are tried and the
// smallest result is kept.
#include "engine/codec/Codec.h"
#include "engine/codec/Lzma.h"

namespace rtp {

namespace {

struct CodecEncoder {
  Codec id;
  size_t (*settingsFor)(uint64_t size);
  bool (*encode)(ByteView in, size_t setting, std::vector<uint8_t>* out);
};

constexpr CodecEncoder kEncoders[] = {{Codec::Lzma, LzmaSettingsFor, EncodeLzma}};

// Streams this short are stored: no coder's fixed cost is repaid.
constexpr size_t kShortestEncoded = 8;

}  // namespace

bool EncodeStream(ByteView in, std::vector<uint8_t>* out, Codec* codec, size_t most, size_t from) {
  if (from == 0) {
    out->assign(in.data, in.data + in.size);
    *codec = Codec::Stored;
  }
  if (in.size < kShortestEncoded) return true;
  // The settings of all encoders are numbered one after another.
  size_t first = 0;
  std::vector<uint8_t> candidate;
  for (const CodecEncoder& encoder : kEncoders) {
    const size_t settings = encoder.settingsFor(in.size);
    for (size_t s = 0; s < settings; ++s) {
      const size_t number = first + s;
      if (most && number >= most) return true;
      if (number < from || !encoder.encode(in, s, &candidate)) continue;
      // Data that does not compress (packed assets, random bytes) is not tried again.
      const bool incompressible = candidate.size() >= in.size - in.size / 64;
      if (candidate.size() < out->size()) {
        out->swap(candidate);
        *codec = encoder.id;
      }
      if (incompressible) return true;
    }
    first += settings;
  }
  return true;
}

}  // namespace rtp
