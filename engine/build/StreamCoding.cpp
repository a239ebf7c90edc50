#include "engine/build/StreamCoding.h"

#include <algorithm>
#include <iterator>

#include "engine/base/Cores.h"
#include "engine/codec/Codec.h"
#include "engine/codec/Lzma.h"

namespace rtp {

uint64_t Slice::Total() const {
  uint64_t total = 0;
  for (uint64_t n : length) total += n;
  return total;
}

bool Slice::IsMostOf(const RawStreams& raw) const {
  uint64_t all = 0;
  for (const std::vector<uint8_t>& bytes : raw.bytes) all += bytes.size();
  return Total() * 8 >= all * 7;
}

uint64_t CompressedSize(const RawStreams& raw, const Slice& slice) {
  uint64_t total = 0;
  std::vector<uint8_t> out;
  Codec codec;
  for (int s = 0; s < kStreamCount; ++s) {
    if (!slice.length[s]) continue;
    EncodeStream(ByteView(raw.bytes[s].data() + slice.from[s], static_cast<size_t>(slice.length[s])), &out,
                 &codec, 1);
    total += out.size();
  }
  return total;
}

namespace {

// The difference bytes are coded by the old bytes around them up to this many: the model decodes a few
// megabytes a second, and a larger stream of them would slow the apply down.
constexpr size_t kLargestModelled = 32u << 20;
// A stream of them is sampled first (its first quarter, at most kSample bytes), from kSampledDiff bytes
// on: LZMA is not tried on what the model codes a quarter smaller. Differences of text and code are
// mostly zeros, which LZMA's binary trees read slowly (react-dom's 280 KB: 0.23 s, the model a third of
// LZMA's size), and which the model codes best.
constexpr size_t kSample = 256u << 10;
constexpr size_t kSampledDiff = 64u << 10;
constexpr uint64_t kClearly = 4;

// What the apply's decoders of these streams take together.
uint64_t DecoderMemory(const StreamInfo (&info)[kStreamCount], uint64_t oldSize) {
  uint64_t memory = 0;
  for (const StreamInfo& stream : info)
    if (stream.storedSize) memory += EntryOf(stream.codec).decoderMemory(stream.decodedSize, oldSize);
  return memory;
}

}  // namespace

uint64_t Compress(const RawStreams& raw, size_t tries, int threads,
                  std::vector<uint8_t> (&stored)[kStreamCount], StreamInfo (&info)[kStreamCount],
                  ByteView old, const CodedBefore* literals, uint64_t guessFrom) {
  const auto one = [&](int s, ByteView before) {
    const std::vector<uint8_t>& bytes = raw.bytes[s];
    // What one setting could not compress, no other setting will: it stays stored (but for literals
    // coded after the old space already, which may find packed old bytes there).
    if (tries == 0 && info[s].codec == Codec::Stored && info[s].decodedSize == bytes.size() &&
        !bytes.empty() && !(s == kLiterals && literals))
      return;
    // A first try of a large stream (see EstimateLarge) is a guess from its samples: coding it would take
    // as long as coding it in the end, which only the chosen streams are, on both cores (a tree of 50 MB
    // of changed images and code: 25 s for each style's literals).
    const ByteView view(bytes.data(), bytes.size());
    const uint64_t guess = tries == 1 ? EstimateLarge(view, guessFrom) : UINT64_MAX;
    if (guess != UINT64_MAX) {
      stored[s].clear();
      info[s] = StreamInfo{Codec::LzmaParts, guess, bytes.size()};
      return;
    }
    // Every setting after the first, when the first has already been tried on these bytes (not guessed).
    const bool triedOnce =
        tries == 0 && info[s].decodedSize == bytes.size() && stored[s].size() == info[s].storedSize;
    Codec codec = info[s].codec;
    const bool literal = s == kLiterals && before.size;
    EncodeStream(view, &stored[s], &codec, tries, triedOnce ? 1 : 0, literal ? before : ByteView(), threads,
                 literal ? literals : nullptr);
    info[s].codec = codec;
    info[s].storedSize = stored[s].size();
    info[s].decodedSize = bytes.size();
  };
  // The differences are also coded by the old bytes around them (once: then LZMA is not tried again).
  // LZMA is tried on a stream of them of kSampledDiff bytes or more only when the model did not code its
  // sample clearly smaller.
  const std::vector<uint8_t>& diff = raw.bytes[kDiff];
  const bool modelledBefore =
      info[kDiff].codec == Codec::Differences && info[kDiff].decodedSize == diff.size();
  const bool model = !modelledBefore && !diff.empty() && diff.size() <= kLargestModelled;
  const bool sampled = model && diff.size() >= kSampledDiff;
  const size_t sampleSize = std::min(kSample, diff.size() / 4);
  std::vector<uint8_t> modelled, sample;
  size_t modelledSample = 0;
  // The longest tasks first, each on the core with less to do so far. LZMA takes about six times what the
  // model takes a byte; coding after the old space, a quarter of that a byte of the old space too.
  constexpr int kModel = kStreamCount, kSampled = kStreamCount + 1;
  int order[kStreamCount + 2] = {kLiteralLengths, kCoverLengths, kMoves, kSegments,
                                 kDiff,           kLiterals,     kModel, kSampled};
  uint64_t cost[kStreamCount + 2];
  for (int s = 0; s < kStreamCount; ++s)
    cost[s] = 6 * raw.bytes[s].size() + (s == kLiterals ? old.size / 4 : 0);
  cost[kModel] = model ? diff.size() : 0;
  cost[kSampled] = sampled ? 6 * sampleSize : 0;
  const auto skipped = [&](int task) {
    return task == kDiff ? modelledBefore || sampled : task >= kModel && cost[task] == 0;
  };
  std::stable_sort(std::begin(order), std::end(order), [&](int a, int b) { return cost[a] > cost[b]; });
  std::vector<int> tasks[2];
  uint64_t load[2] = {0, 0};
  for (int task : order) {
    if (skipped(task)) continue;
    const int core = load[1] < load[0] ? 1 : 0;
    tasks[core].push_back(task);
    load[core] += cost[task];
  }
  const auto run = [&](const std::vector<int>& list) {
    for (int task : list) {
      if (task == kModel) {
        if (!EncodeDifferences(ByteView(diff.data(), diff.size()), raw.differences, &modelled,
                               sampled ? sampleSize : 0, &modelledSample))
          modelled.clear();
      } else if (task == kSampled) {
        Codec codec = Codec::Stored;
        EncodeStream(ByteView(diff.data(), sampleSize), &sample, &codec, 1);
      } else {
        one(task, old);
      }
    }
  };
  OnBothCores([&] { run(tasks[0]); }, [&] { run(tasks[1]); }, threads > 1);
  if (sampled && (modelled.empty() || modelledSample * kClearly >= sample.size() * (kClearly - 1)))
    one(kDiff, old);
  // The model decodes slower than LZMA: it is kept where it saves a sixteenth at least over what LZMA
  // coded, and wherever LZMA did not code these bytes (skipped, or only guessed at).
  const bool coded = info[kDiff].decodedSize == diff.size() && stored[kDiff].size() == info[kDiff].storedSize;
  const size_t other = stored[kDiff].size();
  if (!modelled.empty() && (!coded || modelled.size() < other - other / 16)) {
    stored[kDiff].swap(modelled);
    info[kDiff].codec = Codec::Differences;
    info[kDiff].storedSize = stored[kDiff].size();
    info[kDiff].decodedSize = diff.size();
  }
  if (DecoderMemory(info, old.size) > kMaxDecoderMemory && EntryOf(info[kLiterals].codec).readsOld) {
    info[kLiterals] = StreamInfo();
    one(kLiterals, ByteView());
  }
  uint64_t total = 0;
  for (int s = 0; s < kStreamCount; ++s) total += info[s].storedSize;
  return total;
}

}  // namespace rtp
