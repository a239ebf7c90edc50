// Choosing a stream's codec, linked into the builder only: every encoder's settings are tried and the
// smallest result is kept.
#include "engine/codec/Codec.h"
#include "engine/codec/Lzma.h"

namespace rtp {

namespace {

struct CodecEncoder {
  Codec id;
  size_t (*settingsFor)(uint64_t size, uint64_t oldSize);
  bool (*encode)(ByteView in, ByteView old, size_t setting, int threads, std::vector<uint8_t>* out);
};

constexpr CodecEncoder kEncoders[] = {{Codec::Lzma, LzmaSettingsFor, EncodeLzma},
                                      {Codec::LzmaParts, LzmaPartsSettingsFor, EncodeLzmaParts},
                                      {Codec::LzmaAfterOld, LzmaAfterOldSettingsFor, EncodeLzmaAfterOld}};

// Streams this short are stored: no coder's fixed cost is repaid.
constexpr size_t kShortestEncoded = 8;

}  // namespace

// Tries the encoders `use` accepts; see EncodeStream.
template <typename Accept>
bool EncodeWith(ByteView in, std::vector<uint8_t>* out, Codec* codec, size_t most, size_t from, ByteView old,
                int threads, Accept use) {
  if (from == 0) {
    out->assign(in.data, in.data + in.size);
    *codec = Codec::Stored;
  }
  if (in.size < kShortestEncoded) return true;
  // The settings of all encoders are numbered one after another.
  size_t first = 0;
  std::vector<uint8_t> candidate;
  for (const CodecEncoder& encoder : kEncoders) {
    const size_t settings = use(encoder.id) ? encoder.settingsFor(in.size, old.size) : 0;
    for (size_t s = 0; s < settings; ++s) {
      const size_t number = first + s;
      if (most && number >= most) return true;
      if (number < from || !encoder.encode(in, old, s, threads, &candidate)) continue;
      // Data that does not compress (packed assets, random bytes) is not tried again with this encoder.
      const bool incompressible = DidNotCompress(candidate.size(), in.size);
      if (candidate.size() < out->size()) {
        out->swap(candidate);
        *codec = encoder.id;
      }
      if (incompressible) break;
    }
    first += settings;
  }
  return true;
}

bool EncodeStream(ByteView in, std::vector<uint8_t>* out, Codec* codec, size_t most, size_t from,
                  ByteView old, int threads) {
  return EncodeWith(in, out, codec, most, from, old, threads, [](Codec) { return true; });
}

bool EncodeStreamAfterOld(ByteView in, ByteView old, std::vector<uint8_t>* out, Codec* codec) {
  return EncodeWith(in, out, codec, 0, 0, old, 1, [](Codec id) { return EntryOf(id).readsOld; });
}

}  // namespace rtp
