// Choosing a stream's codec, linked into the builder only: every encoder's settings are tried and the
// smallest result is kept.
#include <atomic>
#include <deque>

#include "engine/base/Cores.h"
#include "engine/codec/Codec.h"
#include "engine/codec/Lzma.h"

namespace rtp {

namespace {

struct CodecEncoder {
  Codec id;
  size_t (*settingsFor)(uint64_t size, uint64_t oldSize);
  bool (*encode)(ByteView in, ByteView old, size_t setting, int threads, std::vector<uint8_t>* out);
  // Null, or whether its settings are tried for a stream of `size` bytes after an old space of `oldSize`
  // (they keep their numbers either way, as a stream's first setting is tried before the old space is).
  bool (*triedFor)(uint64_t size, uint64_t oldSize);
};

constexpr CodecEncoder kEncoders[] = {
    {Codec::Lzma, LzmaSettingsFor, EncodeLzma, nullptr},
    {Codec::LzmaParts, LzmaPartsSettingsFor, EncodeLzmaParts, LzmaPartsTriedFor},
    {Codec::LzmaAfterOld, LzmaAfterOldSettingsFor, EncodeLzmaAfterOld, nullptr},
    {Codec::LzmaAfterOldParts, LzmaAfterOldPartsSettingsFor, EncodeLzmaAfterOldParts, nullptr}};

// Streams this short are stored: no coder's fixed cost is repaid.
constexpr size_t kShortestEncoded = 8;

// One setting of one encoder, and what it gave.
struct Try {
  enum State { kPending, kCoded, kGaveUp, kFailed };
  Try(const CodecEncoder* by, size_t number) : encoder(by), id(by->id), setting(number) {}
  const CodecEncoder* encoder;
  Codec id;  // the encoder's, or that of the bytes coded beforehand that stand for this setting
  size_t setting;
  std::vector<uint8_t> out;
  std::atomic<State> state{kPending};
};

}  // namespace

// With more than one thread each takes the next setting; the smallest result is then chosen in the
// settings' order, so it is the one a single thread would choose.
bool EncodeStream(ByteView in, std::vector<uint8_t>* out, Codec* codec, size_t most, size_t from,
                  ByteView old, int threads, const CodedBefore* before) {
  if (from == 0) {
    out->assign(in.data, in.data + in.size);
    *codec = Codec::Stored;
  }
  if (in.size < kShortestEncoded) return true;
  // The settings of all encoders are numbered one after another.
  std::deque<Try> tries;
  size_t first = 0;
  // A large stream already coded after the old space is not coded alone too: the old space only adds
  // matches to what its coders find in the stream, which reach back at least as far as LzmaParts' (18 MB
  // of edited code: 5.6 MB of literals, 5 s on one core for nothing).
  const bool afterOldOnly = before && in.size >= kPartedStream;
  for (const CodecEncoder& encoder : kEncoders) {
    const size_t settings = encoder.settingsFor(in.size, old.size);
    const bool tried = !afterOldOnly || EntryOf(encoder.id).readsOld;
    for (size_t s = 0; tried && s < settings && !(most && first + s >= most); ++s)
      if (first + s >= from && (!encoder.triedFor || encoder.triedFor(in.size, old.size)))
        tries.emplace_back(&encoder, s);
    first += settings;
  }
  // Bytes coded after the old space beforehand stand for that setting of coding after it, whole or in
  // parts (the other is not tried).
  bool placed = false;
  for (Try& t : tries) {
    if (!before || !EntryOf(t.encoder->id).readsOld || t.setting != before->setting) continue;
    t.state = Try::kFailed;
    if (placed) continue;
    placed = true;
    t.id = before->codec;
    t.out = *before->bytes;
    t.state = DidNotCompress(t.out.size(), in.size) ? Try::kGaveUp : Try::kCoded;
  }
  // Data that does not compress (packed assets, random bytes) is not tried again with that encoder.
  const auto gaveUpBefore = [&](size_t k) {
    for (size_t j = 0; j < k; ++j)
      if (tries[j].encoder == tries[k].encoder && tries[j].state == Try::kGaveUp) return true;
    return false;
  };
  std::atomic<size_t> next{0};
  const int each = tries.size() > 1 ? 1 : threads;
  const auto work = [&] {
    for (size_t k = next++; k < tries.size(); k = next++) {
      Try& t = tries[k];
      if (t.state != Try::kPending || gaveUpBefore(k)) continue;
      if (!t.encoder->encode(in, old, t.setting, each, &t.out)) {
        t.state = Try::kFailed;
        continue;
      }
      t.state = DidNotCompress(t.out.size(), in.size) ? Try::kGaveUp : Try::kCoded;
    }
  };
  OnBothCores(work, work, threads > 1 && tries.size() > 1);
  for (size_t k = 0; k < tries.size(); ++k) {
    Try& t = tries[k];
    // A setting left pending followed one that gave up.
    if (t.state == Try::kFailed || gaveUpBefore(k)) continue;
    if (t.out.size() < out->size()) {
      out->swap(t.out);
      *codec = t.id;
    }
  }
  return true;
}

}  // namespace rtp
