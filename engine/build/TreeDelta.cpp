#include "engine/build/TreeDelta.h"

#include <algorithm>
#include <array>
#include <cstring>
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

// A file matched window by window: its new bytes [newFrom, newTo) against old bytes [oldFrom, oldTo) of
// its old version.
struct Window {
  uint64_t newFrom = 0, newTo = 0;
  uint64_t oldFrom = 0, oldTo = 0;
  bool exact = false;  // one exact cover gives it whole
};

// One written file as the matcher sees it.
struct Written {
  size_t file = 0;               // in patch->files
  std::string newName;           // in the new folder
  std::vector<Cover> covers[2];  // for each cover style
  bool windowed = false;         // too large to match whole in the memory the build may take
  std::vector<Window> windows;
};

// What a build may index at once, from the memory it may take: an indexed byte costs five (itself and its
// place in the suffix array), the new bytes matched against it and the streams take the rest. Old data
// beyond the shared budget, and every file larger than a window, is matched window by window against its
// own old version.
struct Budget {
  uint64_t shared;  // old bytes in the one index every file is matched against
  uint64_t window;  // old bytes of one window
};
Budget BudgetFor(uint64_t memory) {
  const uint64_t shared = std::min(kIndexBudget, memory / 10);
  return {shared, std::max<uint64_t>(std::min(kMaxIndexed, memory / 20), 64 << 10)};
}
// A window of new bytes is half its window of old ones: the rest lets the old bytes drift either way.
constexpr uint64_t kNewShare = 2;

// Reads [at, at + size) of a file into `out`.
bool ReadRange(FileSystem& tree, const std::string& name, uint64_t at, uint64_t size, Buffer* out,
               std::string* error) {
  std::unique_ptr<Source> file;
  if (tree.OpenRead(name, &file) != FsStatus::Ok) return Fail(error, "cannot read " + name);
  if (size > SIZE_MAX || !out->Resize(static_cast<size_t>(size)))
    return Fail(error, "out of memory reading " + name);
  for (uint64_t done = 0; done < size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunkSize, size - done));
    if (!file->ReadAt(at + done, out->data() + done, n)) return Fail(error, "cannot read " + name);
    done += n;
  }
  return true;
}

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

// Where one style's steps of a file go.
struct StepTarget {
  const std::vector<Cover>* covers;
  CoverStyle style;
  RawStreams* out;
};

// Matches a file too large for the memory window by window against its old version `old` (null: the file
// is new, every byte a literal), whose bytes the index names from `oldAt` on. Each window of old bytes is
// centred where the window of new bytes is expected by the last cover, so the matching follows content
// that moved. Fills the file's size and CRC-32C.
bool MatchInWindows(FileSystem& oldTree, FileSystem& newTree, const SourceFile* old, uint64_t oldAt,
                    uint64_t newSize, uint64_t window, Written* w, TreeFile* file, std::string* error) {
  const uint64_t step = std::max<uint64_t>(window / kNewShare, 1);
  int64_t drift = 0;  // old position minus new position where the last cover was
  uint32_t crc = 0;
  Buffer fresh, oldBytes;
  for (uint64_t from = 0;; from += step) {
    Window part;
    part.newFrom = from;
    part.newTo = std::min(newSize, from + step);
    if (!ReadRange(newTree, w->newName, part.newFrom, part.newTo - part.newFrom, &fresh, error)) return false;
    crc = Crc32c(fresh.view(), crc);
    if (old && old->size) {
      const uint64_t span = std::min(window, old->size);
      const int64_t centre = static_cast<int64_t>(from + (part.newTo - part.newFrom) / 2) + drift;
      const int64_t first = std::min<int64_t>(std::max<int64_t>(centre - static_cast<int64_t>(span / 2), 0),
                                              static_cast<int64_t>(old->size - span));
      part.oldFrom = static_cast<uint64_t>(first);
      part.oldTo = part.oldFrom + span;
      if (!ReadRange(oldTree, old->name, part.oldFrom, span, &oldBytes, error)) return false;
      // Most of a large packed file is where it was: a window the old bytes hold unchanged at the expected
      // place is one exact cover, with no index to build.
      const int64_t same = static_cast<int64_t>(from) + drift - first;
      const uint64_t length = part.newTo - part.newFrom;
      if (length > 0 && same >= 0 && static_cast<uint64_t>(same) + length <= span &&
          std::memcmp(oldBytes.data() + same, fresh.data(), static_cast<size_t>(length)) == 0) {
        const uint64_t at = oldAt + part.oldFrom + static_cast<uint64_t>(same);
        for (std::vector<Cover>& covers : w->covers) covers.push_back({at, from, length, at});
        part.exact = true;
        w->windows.push_back(part);
        if (part.newTo == newSize) break;
        continue;
      }
      OldIndex index;
      index.bytes = oldBytes.view();
      index.base = oldAt + part.oldFrom;
      if (!BuildSuffixArray(index.bytes, &index.order))
        return Fail(error, "out of memory indexing " + old->name);
      const uint64_t expected =
          static_cast<uint64_t>(std::max<int64_t>(static_cast<int64_t>(from) + drift, 0));
      std::vector<Cover> found[2];
      const auto find = [&](int style) {
        found[style] = FindCovers(index, fresh.view(), oldAt + expected, static_cast<CoverStyle>(style));
      };
      std::thread other(find, 1);
      find(0);
      other.join();
      for (int style = 0; style < 2; ++style)
        for (Cover cover : found[style]) {
          cover.newPos += from;
          w->covers[style].push_back(cover);
        }
      if (!found[0].empty())
        drift = static_cast<int64_t>(found[0].back().oldPos - oldAt) -
                static_cast<int64_t>(found[0].back().newPos + from);
    }
    w->windows.push_back(part);
    if (part.newTo == newSize) break;
  }
  file->newSize = newSize;
  file->newCrc = crc;
  return true;
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

  // Written files too large for the memory the build may take are matched window by window against their
  // own old versions, which then stay out of the shared index.
  const Budget budget = BudgetFor(plan.maxMemory ? plan.maxMemory : kDefaultBuildMemory);
  std::vector<uint64_t> newSizes(written.size(), 0);
  std::vector<bool> windowedOld(all.size(), false);
  uint64_t newTotal = 0, newDone = 0;
  for (size_t i = 0; i < written.size(); ++i) {
    if (!FileSize(newTree, written[i].newName, &newSizes[i], error)) return false;
    newTotal += newSizes[i];
    const size_t c = counterpart[written[i].file];
    written[i].windowed = newSizes[i] > budget.window || (c && all[c - 1].size > budget.window);
    if (written[i].windowed && c) windowedOld[c - 1] = true;
  }
  // The shared index: every other old file when they fit, else only the old versions of the changed files,
  // the largest of them windowed too until the rest fit.
  uint64_t others = 0;
  for (size_t f = 0; f < all.size(); ++f) others += windowedOld[f] ? 0 : all[f].size;
  std::vector<bool> indexed(all.size(), false);
  for (size_t f = 0; f < all.size(); ++f) indexed[f] = !windowedOld[f] && others <= budget.shared;
  if (others > budget.shared) {
    std::vector<size_t> changed;  // in `written`, largest old version first
    uint64_t shared = 0;
    for (size_t i = 0; i < written.size(); ++i) {
      const size_t c = counterpart[written[i].file];
      if (!c || written[i].windowed) continue;
      indexed[c - 1] = true;
      shared += all[c - 1].size;
      changed.push_back(i);
    }
    std::stable_sort(changed.begin(), changed.end(), [&](size_t x, size_t y) {
      return all[counterpart[written[x].file] - 1].size > all[counterpart[written[y].file] - 1].size;
    });
    for (size_t k = 0; shared > budget.shared && k < changed.size(); ++k) {
      const size_t c = counterpart[written[changed[k]].file];
      written[changed[k]].windowed = true;
      windowedOld[c - 1] = true;
      indexed[c - 1] = false;
      shared -= all[c - 1].size;
    }
  }
  Buffer oldBytes;
  uint64_t indexedSize = 0;
  for (size_t i = 0; i < all.size(); ++i) indexedSize += indexed[i] ? all[i].size : 0;
  if (!oldBytes.Resize(static_cast<size_t>(indexedSize)))
    return Fail(error, "out of memory reading the old folder");
  // Indexed files lie end to end in `oldBytes`, each from indexedAt[i] on; windowed old files take the
  // positions after them, so that covers name every old byte alike.
  std::vector<uint64_t> indexedAt(all.size(), 0);
  std::vector<size_t> indexedFiles;  // by position
  for (size_t i = 0, at = 0; i < all.size(); ++i) {
    if (!indexed[i]) continue;
    indexedAt[i] = at;
    indexedFiles.push_back(i);
    if (!ReadTreeFileInto(oldTree, all[i].name, oldBytes.data() + at, all[i].size, error)) return false;
    at += static_cast<size_t>(all[i].size);
    report("reading the old files", at, indexedSize);
  }
  for (size_t i = 0, at = indexedSize; i < all.size(); ++i) {
    if (!windowedOld[i]) continue;
    indexedAt[i] = at;
    indexedFiles.push_back(i);
    at += all[i].size;
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

  // Positions in the index are compacted below to the sources the patch keeps.
  std::vector<bool> kept(all.size(), false);
  for (size_t c : counterpart)
    if (c) kept[c - 1] = true;
  const auto slotAt = [&](uint64_t position) {  // in indexedFiles, the file holding an index position
    size_t lo = 0, hi = indexedFiles.size();
    while (hi - lo > 1) {
      const size_t mid = (lo + hi) / 2;
      if (indexedAt[indexedFiles[mid]] <= position)
        lo = mid;
      else
        hi = mid;
    }
    return lo;
  };
  const auto fileAt = [&](uint64_t position) { return indexedFiles[slotAt(position)]; };
  std::vector<uint64_t> copied(all.size(), 0);  // bytes the covers take from each old file
  for (size_t i = 0; i < written.size(); ++i) {
    Written& w = written[i];
    TreeFile& file = patch->files[w.file];
    const size_t c = counterpart[w.file];
    if (w.windowed) {
      if (!MatchInWindows(oldTree, newTree, c ? &all[c - 1] : nullptr, c ? indexedAt[c - 1] : 0, newSizes[i],
                          budget.window, &w, &file, error))
        return false;
    } else {
      Buffer fresh;
      if (!ReadTreeFile(newTree, w.newName, &fresh, error)) return false;
      file.newSize = fresh.size();
      file.newCrc = Crc32c(fresh.view());
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
    }
    for (const std::vector<Cover>& covers : w.covers)
      for (const Cover& cover : covers) copied[fileAt(cover.oldPos)] += cover.length;
    report("matching the new files", newDone += newSizes[i], newTotal);
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
        for (size_t k = slotAt(cover.oldPos); k < indexedFiles.size(); ++k) {
          if (indexedAt[indexedFiles[k]] >= cover.oldPos + cover.length) break;
          kept[indexedFiles[k]] = true;
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
  // Writes the steps of a file for each target; a windowed file window by window, its old bytes read
  // again for each window.
  const auto writeSteps = [&](const Written& w, const std::vector<StepTarget>& targets) {
    if (!w.windowed) {
      Buffer fresh;
      if (!ReadTreeFile(newTree, w.newName, &fresh, error)) return false;
      for (const StepTarget& t : targets) WriteSteps(index, fresh.view(), *t.covers, t.style, t.out);
      return true;
    }
    const size_t c = counterpart[w.file];
    std::vector<StepCursor> cursors(targets.size());
    std::vector<size_t> next(targets.size(), 0);
    Buffer fresh, oldBytes;
    for (size_t k = 0; k < w.windows.size(); ++k) {
      const Window& window = w.windows[k];
      const bool last = k + 1 == w.windows.size();
      if (window.exact) {
        for (size_t t = 0; t < targets.size(); ++t)
          WriteExactWindow(targets[t].covers->at(next[t]++), window.newTo - window.newFrom, last, &cursors[t],
                           targets[t].out);
        continue;
      }
      OldIndex part;
      if (!ReadRange(newTree, w.newName, window.newFrom, window.newTo - window.newFrom, &fresh, error))
        return false;
      if (c) {
        if (!ReadRange(oldTree, all[c - 1].name, window.oldFrom, window.oldTo - window.oldFrom, &oldBytes,
                       error))
          return false;
        part.bytes = oldBytes.view();
        part.base = indexedAt[c - 1] + window.oldFrom;
      }
      for (size_t t = 0; t < targets.size(); ++t) {
        std::vector<Cover> mine;
        const std::vector<Cover>& covers = *targets[t].covers;
        for (; next[t] < covers.size() && covers[next[t]].newPos < window.newTo; ++next[t]) {
          mine.push_back(covers[next[t]]);
          mine.back().newPos -= window.newFrom;
        }
        WriteWindowSteps(part, fresh.view(), mine, targets[t].style, last, &cursors[t], targets[t].out);
      }
    }
    return true;
  };
  RawStreams styles[2];
  std::vector<Slice> slices[2];  // per file and style: where its steps lie in each stream
  for (size_t i = 0; i < written.size(); ++i) {
    Written& w = written[i];
    for (std::vector<Cover>& covers : w.covers)
      for (Cover& cover : covers) {
        const size_t f = fileAt(cover.oldPos);
        cover.spacePos = cover.oldPos - indexedAt[f] + keptAt[f];
      }
    Slice slice[2];
    for (int style = 0; style < 2; ++style)
      for (int s = 0; s < kStreamCount; ++s) slice[style].from[s] = styles[style].bytes[s].size();
    if (!writeSteps(w, {{&w.covers[0], CoverStyle::Differences, &styles[0]},
                        {&w.covers[1], CoverStyle::ExactPieces, &styles[1]}}))
      return false;
    for (int style = 0; style < 2; ++style) {
      for (int s = 0; s < kStreamCount; ++s)
        slice[style].length[s] = styles[style].bytes[s].size() - slice[style].from[s];
      slices[style].push_back(slice[style]);
    }
    report("writing the steps", newDone += newSizes[i], newTotal);
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
    for (size_t i = 0; i < written.size(); ++i)
      if (!writeSteps(written[i],
                      {{&written[i].covers[chosen[i]], static_cast<CoverStyle>(chosen[i]), &both}}))
        return false;
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
