// The LZMA codecs' encoder (the LZMA SDK's), linked into the builder only.
#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/base/Cores.h"
#include "engine/base/Stream.h"
#include "engine/base/Varint.h"
#include "engine/codec/Lzma.h"
#include "engine/codec/LzmaEncAfter.h"
#include "engine/codec/LzmaMemory.h"

namespace rtp {

namespace {

constexpr size_t kPropsSize = LZMA_PROPS_SIZE;

// Literal context bits, literal position bits, position bits: text likes the default, code and the
// difference streams of executables the others.
struct LiteralSetting {
  int lc, lp, pb;
};
constexpr LiteralSetting kSettings[] = {{0, 0, 0}, {3, 0, 2}, {1, 0, 0}, {2, 0, 0},
                                        {0, 1, 1}, {4, 0, 0}, {8, 0, 0}};
// The settings a small stream tries, in order.
constexpr size_t kTriedSettings = 6;
// A large stream takes the one of these that codes its samples smallest. The last, literals told by the
// whole byte before them, suits packed images (deflate's output): 0.75 % smaller on a folder of PNG
// sprite sheets, where the others gain nothing.
constexpr size_t kSampledSettings[] = {0, 1, 6};
// Large streams take one setting only: another one gains least there (0.07 % on the streams of an 11 MB
// executable) and would take as long again as the first. Which of kSampledSettings it is (0.3 % on
// images) is told by coding samples of the stream with each.
constexpr size_t kLargeStream = 1u << 20;
constexpr uint32_t kLargeStreamCandidates = 48;
constexpr size_t kSamples = 4;
constexpr size_t kSampleSize = 64 << 10;
// Samples of a large stream that compresses, for a guess at its size (EstimateLarge).
constexpr size_t kEstimateSamples = 32;
// After the old space, each setting reads all of it again: the first two only, and only the first where
// the old space and the stream come to kLargeAfterOld together (the second gained 0.07 % on a tree of
// text edited every few words, 0.9 MB after 3.9 MB, for 3.3 s more).
constexpr size_t kAfterOldSettings = 2;
constexpr uint64_t kLargeAfterOld = 4u << 20;
// Beside coding after the old space, a stream this large takes plain LZMA's first setting only.
constexpr uint64_t kManySettingsAfterOld = 256u << 10;
// A stream smaller than the old space by this much is coded after it with hash chains, one setting.
constexpr uint64_t kSmallAfterOld = 8;
// A stream coded after the old space with its matches there found beforehand has its own matches found
// in binary trees, which take 8 bytes a byte beside the 6 of the matches told, up to this size (18 MB of
// code edited every few words, 5.5 MB of literals after 18.5 MB: 1.8 MB, 2.6 % smaller than its hash
// chains over the old space, which lost to LzmaParts, and 4 s sooner); a larger one in hash chains.
constexpr uint64_t kLargestMatched = 8u << 20;
// How far back the finder of such a stream looks for its own matches where its samples hardly compress
// (packed images): its tables then stay in the caches (one changed 11 MB sprite sheet: coded in 1.1 s,
// not 2.7 s, 0.06 % larger, still below zstd).
constexpr uint32_t kHardlyReach = 256u << 10;
// How far back each coder of a stream coded after the old space in two parts looks: the two then take
// about the memory that one coder of the whole took beside LzmaParts' two (an 11 MB image after its old
// version: 292 MB against 288, zstd 213), and lose little (0.03 % there). A stream is coded so only
// after an old space of three quarters of that at most, so that each coder still reaches the old
// version of what it codes; after a larger one it is coded whole (a tree of 18 MB of code, each file
// much edited: two coders with hash chains over 16 MiB came out larger than LzmaParts there, and took
// 45 MB more).
constexpr uint32_t kPartWindow = 16u << 20;

CLzmaEncProps PropsFor(ByteView in, uint32_t dictionary, size_t settingNumber) {
  const LiteralSetting& setting = kSettings[settingNumber];
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = 9;
  props.dictSize = dictionary;
  props.lc = setting.lc;
  props.lp = setting.lp;
  props.pb = setting.pb;
  // The longest fast bytes find the long runs of difference streams (a run of zeros is a match one byte
  // back): on executables 2 to 3 % smaller than 128. Large streams try fewer match candidates for time
  // (48, not 152), which costs them 0.4 %.
  props.fb = 273;
  if (in.size >= kLargeStream) props.mc = kLargeStreamCandidates;
  props.numThreads = 1;
  props.writeEndMark = 0;
  return props;
}

// The room a coder writes `in` into: what bytes that do not compress grow to (LZMA adds about 1 %), so
// they are coded to the end and told as such rather than tried with every setting. Not cleared first:
// the memory taken is the bytes written.
std::unique_ptr<uint8_t[]> RoomFor(ByteView in, size_t* room) {
  *room = in.size + in.size / 32 + 1024;
  return NewBytes(*room);
}

// Matches told for the bytes a coder codes (see OldMatches), how many bytes at the run's start its
// match finder moves over unread (those they were found in), and how far back the finder looks for the
// stream's own matches (0: as far as the dictionary).
struct ToldMatches {
  const uint16_t* length;
  const uint32_t* from;
  size_t unread;
  uint32_t reach;
};

// The bytes of `run` from `before` on, `size` of them, coded after those before them with `props`; the
// match finder reads those before them but those `told` moves over.
bool EncodeRun(const uint8_t* run, size_t before, size_t size, const CLzmaEncProps& props,
               std::vector<uint8_t>* out, const ToldMatches* told = nullptr) {
  size_t room = 0;
  const std::unique_ptr<uint8_t[]> coded = RoomFor(ByteView(run + before, size), &room);
  CLzmaEncHandle encoder = coded ? LzmaEnc_Create(LzmaHeap()) : nullptr;
  if (!encoder) return false;
  SizeT written = room;
  SRes result = LzmaEnc_SetProps(encoder, &props);
  if (result == SZ_OK)
    result =
        told ? LzmaEnc_MemEncodeAfterMatched(encoder, coded.get(), &written, run, told->unread, before, size,
                                             told->length, told->from, told->reach, LzmaHeap(), LzmaHeap())
             : LzmaEnc_MemEncodeAfter(encoder, coded.get(), &written, run, before, size, LzmaHeap(),
                                      LzmaHeap());
  LzmaEnc_Destroy(encoder, LzmaHeap(), LzmaHeap());
  // Kept: the property byte, then the data after its leading zero.
  if (result != SZ_OK || written == 0 || coded[0] != 0) return false;
  out->assign(coded.get(), coded.get() + written);
  (*out)[0] = static_cast<uint8_t>((props.pb * 5 + props.lp) * 9 + props.lc);
  return true;
}

// The match finder reads the old space and the stream as one run of bytes: copied together (into *both)
// unless they already are.
const uint8_t* OneRun(ByteView in, ByteView old, std::unique_ptr<uint8_t[]>* both) {
  if (old.data + old.size == in.data) return old.data;
  *both = NewBytes(old.size + in.size);
  if (!*both) return nullptr;
  if (old.size) std::memcpy(both->get(), old.data, old.size);
  if (in.size) std::memcpy(both->get() + old.size, in.data, in.size);
  return both->get();
}

// `in` coded after `old` with `props` (the old space read by the match finder).
bool EncodeAfter(ByteView in, ByteView old, const CLzmaEncProps& props, std::vector<uint8_t>* out) {
  std::unique_ptr<uint8_t[]> both;
  const uint8_t* run = OneRun(in, old, &both);
  return run && EncodeRun(run, old.size, in.size, props, out);
}

// The parts of a stream as LzmaParts lays them out: the first's decoded and coded sizes, then each
// part's data, the second's without its property byte.
void JoinParts(size_t split, const std::vector<uint8_t> (&coded)[2], std::vector<uint8_t>* out) {
  out->clear();
  PutVarint(out, split);
  PutVarint(out, coded[0].size() - 1);
  out->insert(out->end(), coded[0].begin(), coded[0].end());
  out->insert(out->end(), coded[1].begin() + 1, coded[1].end());
}

// `in` coded alone with `props`.
bool EncodeAlone(ByteView in, const CLzmaEncProps& props, std::vector<uint8_t>* out) {
  size_t room = 0;
  const std::unique_ptr<uint8_t[]> coded = RoomFor(in, &room);
  if (!coded) return false;
  uint8_t properties[kPropsSize];
  SizeT destLen = room;
  SizeT propsSize = kPropsSize;
  const SRes result = LzmaEncode(coded.get(), &destLen, in.data, in.size, &props, properties, &propsSize, 0,
                                 nullptr, LzmaHeap(), LzmaHeap());
  // Kept: the property byte, then the data after its leading zero (the dictionary size is implied).
  if (result != SZ_OK || propsSize != kPropsSize || destLen == 0 || coded[0] != 0) return false;
  out->assign(coded.get(), coded.get() + destLen);
  (*out)[0] = properties[0];
  return true;
}

// What `count` samples of kSampleSize bytes spread evenly over `in` (at least that many bytes) come to,
// each coded alone with `setting`.
uint64_t SamplesCoded(ByteView in, size_t count, size_t setting) {
  uint64_t coded = 0;
  std::vector<uint8_t> out;
  for (size_t k = 0; k < count; ++k) {
    const ByteView sample(in.data + (in.size - kSampleSize) / (count - 1) * k, kSampleSize);
    coded += EncodeAlone(sample, PropsFor(sample, DictionaryFor(sample.size), setting), &out) ? out.size()
                                                                                              : sample.size;
  }
  return coded;
}

// The setting a stream is coded with: a large one's is the one of kSampledSettings that codes its samples
// smallest (the first two on two threads when there are two, the third after the first); *sampled is what
// they came to with it (0 for a stream too small to sample).
size_t SettingFor(ByteView in, size_t settingNumber, int threads = 1, uint64_t* sampled = nullptr) {
  if (sampled) *sampled = 0;
  if (in.size < kLargeStream) return settingNumber;
  constexpr size_t kCandidates = sizeof kSampledSettings / sizeof kSampledSettings[0];
  uint64_t sizes[kCandidates] = {};
  const auto code = [&](size_t candidate) {
    sizes[candidate] = SamplesCoded(in, kSamples, kSampledSettings[candidate]);
  };
  OnBothCores([&] { code(0), code(2); }, [&] { code(1); }, threads > 1);
  const size_t best = static_cast<size_t>(std::min_element(sizes, sizes + kCandidates) - sizes);
  if (sampled) *sampled = sizes[best];
  return kSampledSettings[best];
}

// Whether samples that came to `sampled` hardly compress: to more than fifteen sixteenths of themselves.
// Such bytes (packed images, sounds: what the covers of a tree of them leave) find few matches.
bool Hardly(uint64_t sampled) {
  constexpr uint64_t kWhole = kSamples * kSampleSize;
  return sampled > kWhole - kWhole / 16;
}

// A stream much smaller than the old space spends its time reading the old space into the match finder:
// hash chains read it in a fraction of the time and memory of binary trees. A large one takes them too:
// binary trees took 9.2 s on 7.7 MB of three-tree's code after 13 MB, longer than zstd takes for the
// whole patch; hash chains 2.6 s, 6.6 % larger.
bool HashChainsAfterOld(uint64_t size, uint64_t oldSize) {
  return size < oldSize / kSmallAfterOld || size >= kLargeStream;
}

}  // namespace

size_t LzmaSettingsFor(uint64_t size, uint64_t oldSize) {
  if (size >= kPartedStream) return 0;
  // A stream that is also coded after the old space mostly comes out smaller so (a tree's literals: 3 to
  // 15 %), and the other settings gain under 0.1 % here: the first only, where they take a while.
  const bool afterOld = size >= kManySettingsAfterOld && LzmaAfterOldSettingsFor(size, oldSize) != 0;
  return size >= kLargeStream || afterOld ? 1 : kTriedSettings;
}

size_t LzmaPartsSettingsFor(uint64_t size, uint64_t) {
  return size >= kPartedStream ? 1 : 0;
}

bool LzmaPartsTriedFor(uint64_t size, uint64_t oldSize) {
  return LzmaAfterOldPartsSettingsFor(size, oldSize) == 0;
}

bool EncodeLzmaParts(ByteView in, ByteView, size_t settingNumber, int threads, std::vector<uint8_t>* out) {
  if (in.size < 32) return false;
  const size_t split = in.size / 2 / 16 * 16;
  const ByteView first(in.data, split), second(in.data + split, in.size - split);
  const size_t reach = std::min(kPartReach, split);
  uint64_t sampled = 0;
  const size_t setting = SettingFor(in, settingNumber, threads, &sampled);
  // Two large coders of bytes that hardly compress look for matches with hash chains, which take half
  // the memory of binary trees.
  const bool hardly = Hardly(sampled);
  std::vector<uint8_t> coded[2];
  bool ok[2] = {false, false};
  // Each coder's dictionary holds what it reads (in whole 64 KiB), within the decoder's: the match
  // finders take memory in proportion.
  const auto dictionary = [&](uint64_t bytes) {
    return std::min(WindowAfterOld(0, bytes), DictionaryFor(in.size));
  };
  const auto propsFor = [&](ByteView part, uint64_t reads) {
    CLzmaEncProps props = PropsFor(part, dictionary(reads), setting);
    if (hardly) props.btMode = 0;
    return props;
  };
  const auto codeFirst = [&] { ok[0] = EncodeAlone(first, propsFor(first, first.size), &coded[0]); };
  const auto codeSecond = [&] {
    const CLzmaEncProps props = propsFor(second, reach + second.size);
    ok[1] = EncodeAfter(second, ByteView(first.data + split - reach, reach), props, &coded[1]);
  };
  OnBothCores(codeFirst, codeSecond, threads > 1);
  if (!ok[0] || !ok[1]) return false;
  JoinParts(split, coded, out);
  return true;
}

size_t LzmaAfterOldSettingsFor(uint64_t size, uint64_t oldSize) {
  if (oldSize == 0 || WindowAfterOld(oldSize, size) == 0 || LzmaAfterOldPartsSettingsFor(size, oldSize))
    return 0;
  return size >= kLargeStream || size < oldSize / kSmallAfterOld || size + oldSize >= kLargeAfterOld
             ? 1
             : kAfterOldSettings;
}

bool AfterOldReadsSlowly(uint64_t size, uint64_t oldSize) {
  return LzmaAfterOldSettingsFor(size, oldSize) != 0 && !HashChainsAfterOld(size, oldSize);
}

bool EncodeLzmaAfterOld(ByteView in, ByteView old, size_t settingNumber, int, std::vector<uint8_t>* out) {
  CLzmaEncProps props = PropsFor(in, WindowAfterOld(old.size, in.size), SettingFor(in, settingNumber));
  if (HashChainsAfterOld(in.size, old.size)) props.btMode = 0;
  return EncodeAfter(in, old, props, out);
}

bool AfterOldMatchedBeforehand(uint64_t size, uint64_t oldSize) {
  return LzmaAfterOldPartsSettingsFor(size, oldSize) != 0 ||
         (LzmaAfterOldSettingsFor(size, oldSize) != 0 && HashChainsAfterOld(size, oldSize));
}

bool EncodeLzmaAfterOldMatched(ByteView in, ByteView old, const OldMatches& matches, int threads,
                               std::vector<uint8_t>* out, Codec* codec) {
  const uint32_t window = WindowAfterOld(old.size, in.size);
  if (matches.length.size() != in.size || matches.from.size() != in.size || window == 0) return false;
  std::unique_ptr<uint8_t[]> both;
  const uint8_t* run = OneRun(in, old, &both);
  if (!run) return false;
  uint64_t sampled = 0;
  CLzmaEncProps props = PropsFor(in, window, SettingFor(in, 0, threads, &sampled));
  if (in.size > kLargestMatched) props.btMode = 0;
  // Bytes that hardly compress find few matches of their own, and near ones: a finder looking far back
  // for them waits on memory at every byte.
  const uint32_t reach = Hardly(sampled) ? kHardlyReach : 0;
  const ToldMatches whole{matches.length.data(), matches.from.data(), old.size, reach};
  *codec = Codec::LzmaAfterOld;
  if (in.size < kPartedStream || threads < 2) return EncodeRun(run, old.size, in.size, props, out, &whole);
  // In two parts as LzmaAfterOldParts lays them out (the decoder sets its state afresh at the second and
  // goes on in the same dictionary), the second coder reading the last kPartReach bytes of the first.
  const size_t split = in.size / 2 / 16 * 16;
  const size_t readAhead = std::min<size_t>(reach ? reach : kPartReach, split);
  const ToldMatches second{whole.length + split, whole.from + split, old.size + split - readAhead, reach};
  std::vector<uint8_t> coded[2];
  bool ok[2] = {false, false};
  OnBothCores([&] { ok[0] = EncodeRun(run, old.size, split, props, &coded[0], &whole); },
              [&] { ok[1] = EncodeRun(run, old.size + split, in.size - split, props, &coded[1], &second); });
  if (!ok[0] || !ok[1]) return false;
  JoinParts(split, coded, out);
  *codec = Codec::LzmaAfterOldParts;
  return true;
}

size_t LzmaAfterOldPartsSettingsFor(uint64_t size, uint64_t oldSize) {
  return size >= kPartedStream && oldSize != 0 && oldSize <= kPartWindow / 4 * 3 &&
                 WindowAfterOld(oldSize, size) != 0
             ? 1
             : 0;
}

bool EncodeLzmaAfterOldParts(ByteView in, ByteView old, size_t settingNumber, int threads,
                             std::vector<uint8_t>* out) {
  std::unique_ptr<uint8_t[]> both;
  const uint8_t* run = OneRun(in, old, &both);
  if (!run) return false;
  // The second coder reads the first part too, so it codes a little less (an 11 MB image: 7 % faster).
  const size_t split = in.size / 16 * 9 / 16 * 16;
  CLzmaEncProps props[2];
  props[0] = props[1] = PropsFor(in, 0, SettingFor(in, settingNumber, threads));
  for (int part = 0; part < 2; ++part) {
    if (HashChainsAfterOld(in.size, old.size)) props[part].btMode = 0;
    props[part].dictSize = std::min(WindowAfterOld(old.size, part ? in.size : split), kPartWindow);
  }
  std::vector<uint8_t> coded[2];
  bool ok[2] = {false, false};
  OnBothCores([&] { ok[0] = EncodeRun(run, old.size, split, props[0], &coded[0]); },
              [&] { ok[1] = EncodeRun(run, old.size + split, in.size - split, props[1], &coded[1]); },
              threads > 1);
  if (!ok[0] || !ok[1]) return false;
  JoinParts(split, coded, out);
  return true;
}

uint64_t EstimateLarge(ByteView in, uint64_t from) {
  if (in.size < kPartedStream) return UINT64_MAX;
  uint64_t sampled = 0;
  SettingFor(in, 0, 1, &sampled);
  if (Hardly(sampled)) return in.size * sampled / (kSamples * kSampleSize);
  if (in.size < from) return UINT64_MAX;
  // More samples where the stream compresses: what they come to varies more along it (a quarter of the
  // stream at most).
  const size_t count = static_cast<size_t>(std::min<uint64_t>(kEstimateSamples, in.size / (4 * kSampleSize)));
  return in.size * SamplesCoded(in, count, 0) / (count * kSampleSize);
}

bool EncodeLzma(ByteView in, ByteView, size_t settingNumber, int threads, std::vector<uint8_t>* out) {
  return EncodeAlone(in, PropsFor(in, DictionaryFor(in.size), SettingFor(in, settingNumber, threads)), out);
}

}  // namespace rtp
