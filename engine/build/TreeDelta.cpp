#include "engine/build/TreeDelta.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <thread>

#include "engine/base/Crc32c.h"
#include "engine/match/Matcher.h"
#include "engine/transform/PeTranslate.h"
#include "engine/match/SuffixArray.h"

namespace rtp {

namespace {

// New files at least this large have both cover styles found at once, on two threads.
constexpr size_t kMatchedTogether = 256 * 1024;

// The fewest bytes an old file must give the new ones to be worth naming in the patch.
constexpr uint64_t kMinSourceGain = 1024;

// Reads a whole file into `out`, which holds `size` bytes; the file must still be that long.
bool ReadTreeFileInto(FileSystem& tree, const std::string& name, uint8_t* out, uint64_t size,
                      std::string* error) {
  std::unique_ptr<Source> file;
  if (tree.OpenRead(name, &file) != FsStatus::Ok) return Fail(error, "cannot read " + name);
  if (file->Size() != size) return Fail(error, name + " changed while it was read");
  for (uint64_t at = 0; at < size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunkSize, size - at));
    if (!file->ReadAt(at, out + at, n)) return Fail(error, "cannot read " + name);
    at += n;
  }
  return true;
}

bool ReadTreeFile(FileSystem& tree, const std::string& name, Buffer* out, std::string* error) {
  std::unique_ptr<Source> file;
  if (tree.OpenRead(name, &file) != FsStatus::Ok) return Fail(error, "cannot read " + name);
  const uint64_t size = file->Size();
  if (size > SIZE_MAX || !out->Resize(static_cast<size_t>(size)))
    return Fail(error, "out of memory reading " + name);
  return ReadTreeFileInto(tree, name, out->data(), size, error);
}

bool FileSize(FileSystem& tree, const std::string& name, uint64_t* size, std::string* error) {
  std::unique_ptr<Source> file;
  if (tree.OpenRead(name, &file) != FsStatus::Ok) return Fail(error, "cannot read " + name);
  *size = file->Size();
  return true;
}

// One written file as the matcher sees it.
struct Written {
  size_t file = 0;               // in patch->files
  std::string newName;           // in the new folder
  std::vector<Cover> covers[2];  // for each cover style
};

// A file's cover style is chosen by estimate when one style looks this many times cheaper; otherwise its
// steps, when they come to this many raw bytes, are compressed on their own to tell.
constexpr double kClearly = 1.5;
constexpr uint64_t kMeasuredSteps = 2048;
// Mixed streams are made when the files changing style are estimated to save at least this share of the
// better single style's size (1 / kWorthMixing): compressing them again costs as long as the first time.
constexpr double kWorthMixing = 1000;

// Where one file's steps lie in each raw stream.
struct Slice {
  uint64_t from[kStreamCount] = {};
  uint64_t length[kStreamCount] = {};
  uint64_t Total() const {
    uint64_t total = 0;
    for (uint64_t n : length) total += n;
    return total;
  }
  // Whether these steps are most of the streams' bytes.
  bool IsMostOf(const RawStreams& raw) const {
    uint64_t all = 0;
    for (const std::vector<uint8_t>& bytes : raw.bytes) all += bytes.size();
    return Total() * 8 >= all * 7;
  }
};

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

// Compresses the streams of `raw`, each with at most `tries` settings, on `threads` threads.
uint64_t Compress(const RawStreams& raw, size_t tries, int threads,
                  std::vector<uint8_t> (&stored)[kStreamCount], StreamInfo (&info)[kStreamCount]) {
  const auto one = [&](int s) {
    const std::vector<uint8_t>& bytes = raw.bytes[s];
    // What one setting could not compress, no other setting will: it stays stored.
    if (tries == 0 && info[s].codec == Codec::Stored && info[s].decodedSize == bytes.size() && !bytes.empty())
      return;
    // Every setting after the first, when the first has already been tried on these bytes.
    const bool triedOnce = tries == 0 && info[s].decodedSize == bytes.size();
    Codec codec = info[s].codec;
    EncodeStream(ByteView(bytes.data(), bytes.size()), &stored[s], &codec, tries, triedOnce ? 1 : 0);
    info[s].codec = codec;
    info[s].storedSize = stored[s].size();
    info[s].decodedSize = bytes.size();
  };
  // The largest streams first, alternately on each thread.
  int order[kStreamCount] = {kLiteralLengths, kCoverLengths, kMoves, kSegments, kDiff, kLiterals};
  std::stable_sort(std::begin(order), std::end(order),
                   [&](int a, int b) { return raw.bytes[a].size() > raw.bytes[b].size(); });
  const int step = threads > 1 ? 2 : 1;
  std::thread other([&] {
    for (int i = 1; step == 2 && i < kStreamCount; i += 2) one(order[i]);
  });
  for (int i = 0; i < kStreamCount; i += step) one(order[i]);
  other.join();
  uint64_t total = 0;
  for (int s = 0; s < kStreamCount; ++s) total += stored[s].size();
  return total;
}

// The covers that map where the parts of an old executable (`oldSize` bytes from `at`) went in its new
// version. Only the map is made of them, so a large file is matched in two halves, one on each core, the
// second expected where the old file's second half starts.
std::vector<Cover> MapCovers(const OldIndex& index, ByteView fresh, uint64_t at, uint64_t oldSize) {
  if (fresh.size < kMatchedTogether) return FindCovers(index, fresh, at, CoverStyle::Differences);
  const size_t half = fresh.size / 2;
  std::vector<Cover> second;
  std::thread other([&] {
    second = FindCovers(index, ByteView(fresh.data + half, fresh.size - half), at + oldSize / 2,
                        CoverStyle::Differences);
  });
  std::vector<Cover> covers = FindCovers(index, ByteView(fresh.data, half), at, CoverStyle::Differences);
  other.join();
  for (Cover cover : second) {
    cover.newPos += half;
    covers.push_back(cover);
  }
  return covers;
}

// Old 32-bit executables whose new versions are executables too are read through the transform of
// PeTranslate.h: a first matching on the raw bytes maps where each part of the old image went, then the
// old image is translated in the index, which is built again. The number translated, or -1 on failure.
int TranslateExecutables(FileSystem& newTree, const std::vector<Written>& written,
                         const std::vector<size_t>& counterpart, const std::vector<bool>& indexed,
                         const std::vector<uint64_t>& indexedAt, std::vector<SourceFile>* all,
                         Buffer* oldBytes, OldIndex* index, std::string* error) {
  int translated = 0;
  for (const Written& w : written) {
    const size_t c = counterpart[w.file];
    if (!c || !indexed[c - 1]) continue;
    SourceFile& source = (*all)[c - 1];
    uint8_t* bytes = oldBytes->data() + indexedAt[c - 1];
    MemorySource oldView(ByteView(bytes, static_cast<size_t>(source.size)));
    PeLayout oldPe, newPe;
    if (!ParsePe(oldView, &oldPe)) continue;
    Buffer fresh;
    if (!ReadTreeFile(newTree, w.newName, &fresh, error)) return -1;
    MemorySource newView(fresh.view());
    if (!ParsePe(newView, &newPe)) continue;
    std::vector<OffsetPair> pairs;
    const uint64_t at = indexedAt[c - 1];
    for (const Cover& cover : MapCovers(*index, fresh.view(), at, source.size))
      if (cover.oldPos >= at && cover.oldPos + cover.length <= at + source.size)
        pairs.push_back({cover.oldPos - at, cover.newPos, cover.length});
    AddressMap map;
    if (!BuildAddressMap(oldPe, newPe, pairs, &map)) continue;
    Buffer raw;
    if (!raw.Assign(ByteView(bytes, static_cast<size_t>(source.size)))) return -1;
    TranslateRange(oldPe, map, raw.data(), 0, source.size, 0, static_cast<size_t>(source.size), bytes);
    source.translated = true;
    source.map = map;
    ++translated;
  }
  if (translated && !BuildSuffixArray(index->bytes, &index->order)) {
    Fail(error, "out of memory indexing the old folder");
    return -1;
  }
  return translated;
}

}  // namespace

bool WriteTreeStreams(FileSystem& oldTree, FileSystem& newTree, const BuildPlan& plan, PatchV2* patch,
                      std::vector<uint8_t> (&streams)[kStreamCount], BuildSummary* counts,
                      std::string* error) {
  const auto report = [&plan](const char* phase, uint64_t done, uint64_t total) {
    if (plan.progress) plan.progress(phase, done, total);
  };
  // Every old file may be copied from; their sizes lay out the full old space.
  std::vector<SourceFile> all;
  std::map<std::string, size_t> sourceOf;  // folded name -> index in `all`
  uint64_t total = 0;
  for (const std::string& name : plan.oldFiles) {
    SourceFile source;
    source.name = name;
    if (!FileSize(oldTree, name, &source.size, error)) return false;
    source.start = total;
    total += source.size;
    sourceOf[FoldName(name)] = all.size();
    all.push_back(source);
  }

  std::vector<Written> written;
  std::vector<size_t> counterpart;  // per patch file: index in `all` + 1, or 0
  for (const PlannedEntry& planned : plan.entries) {
    const PatchEntry& entry = planned.entry;
    if (entry.op == Op::Notice) {
      SlotNotice notice;
      notice.slot = static_cast<uint32_t>(patch->files.size());
      notice.id = entry.noticeId;
      notice.delayMs = entry.delayMs;
      notice.payload = entry.notice;
      patch->notices.push_back(notice);
      continue;
    }
    TreeFile file;
    file.name = entry.name;
    file.delayMs = entry.delayMs;
    const auto old = planned.oldName.empty() ? sourceOf.end() : sourceOf.find(FoldName(planned.oldName));
    counterpart.push_back(old == sourceOf.end() ? 0 : old->second + 1);
    if (entry.op == Op::Delete) {
      file.kind = FileKind::Delete;
    } else {
      file.kind = FileKind::Write;
      Written w;
      w.file = patch->files.size();
      w.newName = planned.newName;
      written.push_back(w);
      if (entry.op == Op::Delta) ++counts->patched;
    }
    patch->files.push_back(file);
  }

  // The old data indexed: every old file when they fit the budget, else only the old versions of the
  // changed files.
  std::vector<bool> indexed(all.size(), total <= kIndexBudget);
  if (total > kIndexBudget)
    for (size_t c : counterpart)
      if (c) indexed[c - 1] = true;
  Buffer oldBytes;
  uint64_t indexedSize = 0;
  for (size_t i = 0; i < all.size(); ++i) indexedSize += indexed[i] ? all[i].size : 0;
  if (indexedSize > kMaxIndexed) return Fail(error, "the changed old files exceed what one index holds");
  if (!oldBytes.Resize(static_cast<size_t>(indexedSize)))
    return Fail(error, "out of memory reading the old folder");
  // Indexed files lie end to end in `oldBytes`, each from indexedAt[i] on.
  std::vector<uint64_t> indexedAt(all.size(), 0);
  for (size_t i = 0, at = 0; i < all.size(); ++i) {
    if (!indexed[i]) continue;
    indexedAt[i] = at;
    if (!ReadTreeFileInto(oldTree, all[i].name, oldBytes.data() + at, all[i].size, error)) return false;
    at += static_cast<size_t>(all[i].size);
    report("reading the old files", at, indexedSize);
  }
  report("indexing the old files", 0, indexedSize);
  OldIndex index;
  index.bytes = oldBytes.view();
  index.base = 0;
  if (!BuildSuffixArray(index.bytes, &index.order))
    return Fail(error, "out of memory indexing the old folder");
  if (TranslateExecutables(newTree, written, counterpart, indexed, indexedAt, &all, &oldBytes, &index,
                           error) < 0)
    return false;
  report("indexing the old files", indexedSize, indexedSize);
  uint64_t newTotal = 0, newDone = 0;
  for (const Written& w : written) {
    uint64_t size = 0;
    if (!FileSize(newTree, w.newName, &size, error)) return false;
    newTotal += size;
  }

  // Positions in the index are compacted below to the sources the patch keeps.
  std::vector<bool> kept(all.size(), false);
  for (size_t c : counterpart)
    if (c) kept[c - 1] = true;
  std::vector<size_t> indexedFiles;
  for (size_t i = 0; i < all.size(); ++i)
    if (indexed[i]) indexedFiles.push_back(i);
  const auto fileAt = [&](uint64_t position) {  // the indexed file holding an index position
    size_t lo = 0, hi = indexedFiles.size();
    while (hi - lo > 1) {
      const size_t mid = (lo + hi) / 2;
      if (indexedAt[indexedFiles[mid]] <= position)
        lo = mid;
      else
        hi = mid;
    }
    return indexedFiles[lo];
  };
  std::vector<uint64_t> copied(all.size(), 0);  // bytes the covers take from each old file
  for (Written& w : written) {
    Buffer fresh;
    if (!ReadTreeFile(newTree, w.newName, &fresh, error)) return false;
    TreeFile& file = patch->files[w.file];
    file.newSize = fresh.size();
    file.newCrc = Crc32c(fresh.view());
    const size_t c = counterpart[w.file];
    const uint64_t expected = c && indexed[c - 1] ? indexedAt[c - 1] : 0;
    const auto find = [&](int style) {
      w.covers[style] = FindCovers(index, fresh.view(), expected, static_cast<CoverStyle>(style));
    };
    // The styles of a large file are matched at once, one on each core (the index is only read).
    if (fresh.size() >= kMatchedTogether) {
      std::thread other(find, 1);
      find(0);
      other.join();
    } else {
      find(0);
      find(1);
    }
    for (const std::vector<Cover>& covers : w.covers)
      for (const Cover& cover : covers) copied[fileAt(cover.oldPos)] += cover.length;
    report("matching the new files", newDone += fresh.size(), newTotal);
  }
  newDone = 0;
  // A source costs its name and size in the directory: one that gives fewer bytes than that saves
  // nothing, and its covers become literals.
  for (size_t f = 0; f < all.size(); ++f)
    if (!kept[f] && copied[f] < kMinSourceGain) copied[f] = 0;
  for (Written& w : written) {
    for (std::vector<Cover>& covers : w.covers) {
      std::vector<Cover> useful;
      for (const Cover& cover : covers) {
        if (copied[fileAt(cover.oldPos)] == 0) continue;
        useful.push_back(cover);
        for (size_t f = fileAt(cover.oldPos); f < all.size(); ++f) {
          if (!indexed[f]) continue;
          if (indexedAt[f] >= cover.oldPos + cover.length) break;
          kept[f] = true;
        }
      }
      covers.swap(useful);
    }
  }

  // The kept sources, in name order, make the patch's old space.
  std::vector<uint64_t> keptAt(all.size(), 0);
  std::vector<uint32_t> number(all.size(), 0);
  uint64_t space = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    if (!kept[i]) continue;
    keptAt[i] = space;
    number[i] = static_cast<uint32_t>(patch->sources.size() + 1);
    SourceFile source = all[i];
    source.start = space;
    space += source.size;
    patch->sources.push_back(source);
  }
  for (size_t f = 0; f < patch->files.size(); ++f)
    patch->files[f].oldSource = counterpart[f] ? number[counterpart[f] - 1] : 0;

  // The steps of both cover styles, moves in the patch's old space. The new files are read again rather
  // than kept: the covers of every file had to be known first, and a tree can be larger than memory.
  RawStreams styles[2];
  std::vector<Slice> slices[2];  // per file and style: where its steps lie in each stream
  for (Written& w : written) {
    Buffer fresh;
    if (!ReadTreeFile(newTree, w.newName, &fresh, error)) return false;
    for (std::vector<Cover>& covers : w.covers)
      for (Cover& cover : covers) {
        const size_t f = fileAt(cover.oldPos);
        cover.spacePos = cover.oldPos - indexedAt[f] + keptAt[f];
      }
    for (int style = 0; style < 2; ++style) {
      Slice slice;
      for (int s = 0; s < kStreamCount; ++s) slice.from[s] = styles[style].bytes[s].size();
      WriteSteps(index, fresh.view(), w.covers[style], static_cast<CoverStyle>(style), &styles[style]);
      for (int s = 0; s < kStreamCount; ++s) slice.length[s] = styles[style].bytes[s].size() - slice.from[s];
      slices[style].push_back(slice);
    }
    report("writing the steps", newDone += fresh.size(), newTotal);
  }
  report("compressing", 0, 1);
  // Both styles are compressed once with one setting, one on each core.
  std::vector<uint8_t> stored[3][kStreamCount];
  StreamInfo info[3][kStreamCount];
  uint64_t sizes[3] = {0, 0, UINT64_MAX};
  std::thread other([&] { sizes[1] = Compress(styles[1], 1, 1, stored[1], info[1]); });
  sizes[0] = Compress(styles[0], 1, 1, stored[0], info[0]);
  other.join();
  // Each file then takes the style its steps cost least in: executables suit differences, code and text
  // exact pieces, and a tree holds both. The cost is estimated from each whole stream's compressed size
  // per raw byte; where that leaves it close, a file with many steps is measured by compressing them on
  // their own (a file that makes most of the streams was measured with them). The mixed streams are made
  // when the files that would change style gain enough, and kept only when they come out smaller than
  // either style alone.
  std::vector<int> chosen(written.size(), 0);
  std::vector<std::array<double, 2>> costs(written.size());
  for (size_t i = 0; i < written.size(); ++i) {
    std::array<double, 2>& cost = costs[i];
    for (int style = 0; style < 2; ++style)
      for (int s = 0; s < kStreamCount; ++s)
        if (info[style][s].decodedSize)
          cost[style] += static_cast<double>(slices[style][i].length[s]) *
                         static_cast<double>(info[style][s].storedSize) /
                         static_cast<double>(info[style][s].decodedSize);
    const bool close = cost[0] < cost[1] * kClearly && cost[1] < cost[0] * kClearly;
    if (close && slices[0][i].Total() + slices[1][i].Total() >= kMeasuredSteps) {
      const auto measure = [&](int style) {
        cost[style] = static_cast<double>(slices[style][i].IsMostOf(styles[style])
                                              ? sizes[style]
                                              : CompressedSize(styles[style], slices[style][i]));
      };
      std::thread other(measure, 1);
      measure(0);
      other.join();
    }
    chosen[i] = cost[1] < cost[0] ? 1 : 0;
  }
  // Mixed streams of files that all chose one style would be that style's streams again.
  const int single = sizes[1] < sizes[0] ? 1 : 0;
  double gain = 0;
  bool chose[2] = {false, false};
  for (size_t i = 0; i < written.size(); ++i) {
    chose[chosen[i]] = true;
    if (chosen[i] != single) gain += costs[i][single] - costs[i][1 - single];
  }
  const bool mixed = chose[0] && chose[1] && gain * kWorthMixing >= static_cast<double>(sizes[single]);
  RawStreams both;
  if (mixed) {
    for (size_t i = 0; i < written.size(); ++i) {
      Buffer fresh;
      if (!ReadTreeFile(newTree, written[i].newName, &fresh, error)) return false;
      WriteSteps(index, fresh.view(), written[i].covers[chosen[i]], static_cast<CoverStyle>(chosen[i]),
                 &both);
    }
    sizes[2] = Compress(both, 1, 2, stored[2], info[2]);
  }
  // The smallest is then tried with every setting.
  const int best = static_cast<int>(std::min_element(sizes, sizes + 3) - sizes);
  const RawStreams* raws[3] = {&styles[0], &styles[1], &both};
  Compress(*raws[best], 0, 2, stored[best], info[best]);
  for (int s = 0; s < kStreamCount; ++s) {
    patch->streams[s] = info[best][s];
    streams[s].swap(stored[best][s]);
  }
  report("compressing", 1, 1);
  return true;
}

}  // namespace rtp
