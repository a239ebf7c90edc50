#include "engine/build/TreeDelta.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <map>

#include "engine/base/Cores.h"
#include "engine/base/Crc32c.h"
#include "engine/base/Varint.h"
#include "engine/build/OldSpace.h"
#include "engine/build/StreamCoding.h"
#include "engine/build/TreeRead.h"
#include "engine/build/WindowMatch.h"
#include "engine/codec/Lzma.h"
#include "engine/match/Matcher.h"
#include "engine/match/PackedBytes.h"
#include "engine/match/SharedBlocks.h"
#include "engine/match/SuffixArray.h"
#include "engine/transform/PeTranslate.h"

namespace rtp {

namespace {

// New files at least this large have both cover styles found at once, on two threads. Smaller ones are
// matched one on each core, their two styles in turn sharing the searches of the positions both look at
// (18 MB of code edited every few words, files up to 1.7 MB: matching 8.5 -> 4.6 s).
constexpr size_t kMatchedTogether = 4u << 20;
// An old executable's new version at least this large is mapped in two halves, one on each core.
constexpr size_t kMappedInHalves = 256u << 10;

// Files at least this large in both versions, other than executables, are matched window by window.
constexpr uint64_t kLargeDataFile = 128u << 20;

// The fewest bytes an old file must give the new ones to be worth naming in the patch.
constexpr uint64_t kMinSourceGain = 1024;
// A written file whose bytes look packed is searched when runs of equal bytes give it kMinSourceGain
// bytes and this share of itself at least, or when it is its old version edited in place.
constexpr uint64_t kPackedShare = 1024;

// A written file at least kRunFile bytes long has the runs of kLongRun bytes or more that it shares with
// its old version found from a table of blocks, and when they come to kLeftOutWorth old bytes or more,
// those bytes stay out of the suffix array: most of a packed file is entries that did not change, where
// a search finds the run it is in and sorting their bytes is the most of the index's time.
constexpr uint64_t kRunFile = 1u << 20;
constexpr uint64_t kLongRun = 32u << 10;
constexpr uint64_t kLeftOutWorth = 4u << 20;

// A file's cover style is chosen by estimate when one style looks this many times cheaper; otherwise its
// steps, when they come to this many raw bytes, are compressed on their own to tell.
constexpr double kClearly = 1.5;
constexpr uint64_t kMeasuredSteps = 2048;
// Such files are measured, the largest first, while their steps fit in this many raw bytes, the rest by
// estimate: where most files of a tree are close (18 MB of code edited every few words: 482 files, 18 MB),
// measuring them all compresses the tree once more.
constexpr uint64_t kMeasuredBudget = 4u << 20;
// Mixed streams are made when the files changing style are estimated to save at least this share of the
// better single style's size (1 / kWorthMixing): compressing them again costs as long as the first time.
constexpr double kWorthMixing = 1000;

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

// The covers that map where the parts of an old executable (`oldSize` bytes from `at`) went in its new
// version. Only the map is made of them, so a large file is matched in two halves, one on each core, the
// second expected where the old file's second half starts.
std::vector<Cover> MapCovers(const OldIndex& index, ByteView fresh, uint64_t at, uint64_t oldSize) {
  if (fresh.size < kMappedInHalves) return FindCovers(index, fresh, at, CoverStyle::Differences);
  const size_t half = fresh.size / 2;
  std::vector<Cover> covers, second;
  OnBothCores([&] { covers = FindCovers(index, ByteView(fresh.data, half), at, CoverStyle::Differences); },
              [&] {
                second = FindCovers(index, ByteView(fresh.data + half, fresh.size - half), at + oldSize / 2,
                                    CoverStyle::Differences);
              });
  for (Cover cover : second) {
    cover.newPos += half;
    covers.push_back(cover);
  }
  return covers;
}

// What a file's steps cost at the rate each stream compressed as a whole.
double AtRates(const Slice& slice, const StreamInfo (&info)[kStreamCount]) {
  double cost = 0;
  for (int s = 0; s < kStreamCount; ++s)
    if (info[s].decodedSize)
      cost += static_cast<double>(slice.length[s]) * static_cast<double>(info[s].storedSize) /
              static_cast<double>(info[s].decodedSize);
  return cost;
}

// The streams of each style and of the mixed steps, compressed once (a style not made has size
// UINT64_MAX).
struct Candidates {
  std::vector<uint8_t> stored[3][kStreamCount];
  StreamInfo info[3][kStreamCount];
  uint64_t sizes[3] = {0, 0, UINT64_MAX};
};

// Streams as coded, with the raw steps they were coded from.
struct CodedStreams {
  std::vector<uint8_t> stored[kStreamCount];
  StreamInfo info[kStreamCount];
  const RawStreams* raw = nullptr;
};

// One build of a patch's directory and streams from a plan, in the phases Run names.
class TreeBuild {
 public:
  TreeBuild(FileSystem& oldTree, FileSystem& newTree, const BuildPlan& plan, Patch* patch,
            BuildSummary* counts, std::string* error)
      : mOldTree(oldTree),
        mNewTree(newTree),
        mPlan(plan),
        mPatch(patch),
        mCounts(counts),
        mError(error),
        mBudget(BudgetFor(plan.maxMemory ? plan.maxMemory : kDefaultBuildMemory)) {}

  bool Run(std::vector<uint8_t> (&streams)[kStreamCount], std::vector<uint8_t> (&offered)[kStreamCount]) {
    return ListOldFiles() && ListWrittenFiles() && ChooseWhatIsIndexed() && ReadOldFiles() &&
           TranslateExecutables() && FindLongRuns() && IndexOldFiles() && MatchNewFiles() &&
           KeepUsefulSources() && DropSuffixArrayUnlessServing() && WriteAndCompress(streams, offered);
  }

 private:
  void Report(const char* phase, uint64_t done, uint64_t total) const {
    if (mPlan.progress) mPlan.progress(phase, done, total);
  }
  const SourceFile* OldVersion(const Written& w) const {
    const size_t c = mCounterpart[w.file];
    return c == kNoOldFile ? nullptr : &mOld.files[c];
  }
  uint64_t OldAt(const Written& w) const {
    const size_t c = mCounterpart[w.file];
    return c == kNoOldFile ? 0 : mOld.at[c];
  }

  // The steps read the old bytes only: the suffix array's memory goes back before the last coding takes
  // its own (it serves until then to find the literals' matches in the old space).
  void DropSuffixArray() { ReleaseSearch(&mIndex); }
  // Where there is no old space to code after, nothing: it goes at once.
  bool DropSuffixArrayUnlessServing() {
    if (HeldOldSpace() == 0) DropSuffixArray();
    return true;
  }

  // Every old file may be copied from.
  bool ListOldFiles() {
    for (const std::string& name : mPlan.oldFiles) {
      SourceFile source;
      source.name = name;
      if (!FileSize(mOldTree, name, &source.size, mError)) return false;
      mSourceOf[FoldName(name)] = mOld.files.size();
      mOld.files.push_back(source);
    }
    mOld.indexed.assign(mOld.files.size(), false);
    mOld.windowed.assign(mOld.files.size(), false);
    mOld.kept.assign(mOld.files.size(), false);
    return true;
  }

  // The patch's files in the plan's order, each with its old version, if any.
  bool ListWrittenFiles() {
    for (const PlannedFile& planned : mPlan.files) {
      TreeFile file;
      file.name = planned.name;
      const auto old = planned.oldName.empty() ? mSourceOf.end() : mSourceOf.find(FoldName(planned.oldName));
      mCounterpart.push_back(old == mSourceOf.end() ? kNoOldFile : old->second);
      if (old != mSourceOf.end()) mOld.kept[old->second] = true;
      if (planned.newName.empty()) {
        file.kind = FileKind::Delete;
      } else {
        file.kind = FileKind::Write;
        Written w;
        w.file = mPatch->files.size();
        w.newName = planned.newName;
        if (!FileSize(mNewTree, w.newName, &w.newSize, mError)) return false;
        mNewTotal += w.newSize;
        mWritten.push_back(w);
        if (!planned.oldName.empty()) ++mCounts->patched;
      }
      mPatch->files.push_back(file);
    }
    return true;
  }

  // Files too large for the build's memory (either version) are matched window by window against their
  // own old versions, which then stay out of the shared index. The shared index holds every other old
  // file when they fit, else only the old versions of the changed files, the largest of them windowed
  // too until the rest fit.
  bool ChooseWhatIsIndexed() {
    for (Written& w : mWritten) {
      const SourceFile* old = OldVersion(w);
      w.windowed = w.newSize > mBudget.window || (old && old->size > mBudget.window);
      if (!w.windowed && old && !LargeDataFile(w, *old, &w.windowed)) return false;
      if (w.windowed && old) mOld.windowed[mCounterpart[w.file]] = true;
    }
    uint64_t others = 0;
    for (size_t f = 0; f < mOld.files.size(); ++f) others += mOld.windowed[f] ? 0 : mOld.files[f].size;
    for (size_t f = 0; f < mOld.files.size(); ++f)
      mOld.indexed[f] = !mOld.windowed[f] && others <= mBudget.shared;
    if (others <= mBudget.shared) return true;
    std::vector<Written*> changed;
    uint64_t shared = 0;
    for (Written& w : mWritten) {
      if (!OldVersion(w) || w.windowed) continue;
      mOld.indexed[mCounterpart[w.file]] = true;
      shared += OldVersion(w)->size;
      changed.push_back(&w);
    }
    std::stable_sort(changed.begin(), changed.end(), [&](const Written* a, const Written* b) {
      return OldVersion(*a)->size > OldVersion(*b)->size;
    });
    for (size_t k = 0; shared > mBudget.shared && k < changed.size(); ++k) {
      const size_t c = mCounterpart[changed[k]->file];
      changed[k]->windowed = true;
      mOld.windowed[c] = true;
      mOld.indexed[c] = false;
      shared -= mOld.files[c].size;
    }
    return true;
  }

  // Whether a file is a large data file in both versions (not an executable, which its transform needs
  // indexed whole), matched window by window whatever the memory: such a file is mostly its old version
  // edited here and there, found by comparing blocks in place and by a table of the old blocks, where a
  // suffix array of it all takes five bytes a byte (a 256 MiB file with 64 scattered edits and an
  // insertion: 1.7 GB and 42 s, zstd 1.0 GB and 101 s).
  bool LargeDataFile(const Written& w, const SourceFile& old, bool* large) {
    *large = false;
    if (w.newSize < kLargeDataFile || old.size < kLargeDataFile) return true;
    Buffer head;
    if (!ReadRange(mOldTree, old.name, 0, 2, &head, mError)) return false;
    *large = std::memcmp(head.data(), "MZ", 2) != 0;
    return true;
  }

  // The indexed files' bytes end to end.
  bool ReadOldFiles() {
    mOld.Place();
    const uint64_t size = mOld.IndexedSize();
    if (!mOldBytes.Resize(static_cast<size_t>(size)))
      return Fail(mError, "out of memory reading the old folder");
    for (size_t f = 0; f < mOld.files.size(); ++f) {
      if (!mOld.indexed[f]) continue;
      if (!ReadTreeFileInto(mOldTree, mOld.files[f].name, mOldBytes.data() + mOld.at[f], mOld.files[f].size,
                            mError))
        return false;
      Report("reading the old files", mOld.at[f] + mOld.files[f].size, size);
    }
    return DropUnsharedFiles();
  }

  // The suffix array of the indexed files, executables translated, when a written file is searched in it.
  bool IndexOldFiles() {
    if (std::all_of(mWritten.begin(), mWritten.end(),
                    [](const Written& w) { return w.windowed || w.unmatched; }))
      return true;
    Report("indexing the old files", 0, mOld.IndexedSize());
    mIndex.bytes = mOldBytes.view();
    mIndex.base = 0;
    if (!BuildIndex(&mIndex, mLeftOut)) return Fail(mError, "out of memory indexing the old folder");
    mIndexBuilt = true;
    Report("indexing the old files", mOld.IndexedSize(), mOld.IndexedSize());
    return true;
  }

  // The long runs each large written file shares with its old version (see kRunFile), and the old bytes
  // they explain, which the index leaves out when they are enough.
  bool FindLongRuns() {
    std::vector<OldRange> runs;
    uint64_t explained = 0;
    for (Written& w : mWritten) {
      const size_t c = mCounterpart[w.file];
      if (w.windowed || w.unmatched || w.newSize < kRunFile || c == kNoOldFile || !mOld.indexed[c] ||
          mOld.files[c].translated)
        continue;
      Buffer fresh;
      if (!ReadTreeFile(mNewTree, w.newName, &fresh, mError)) return false;
      SharedBlocks blocks;
      const ByteView old(mOldBytes.data() + mOld.at[c], static_cast<size_t>(mOld.files[c].size));
      if (!blocks.Build(old, {0}, {true}, kLongRun / 2)) continue;
      for (const SharedBlocks::Run& run : blocks.LongRuns(fresh.view(), kLongRun)) {
        w.known.push_back({mOld.at[c] + run.oldPos, run.newPos, run.length, 0});
        runs.push_back({mOld.at[c] + run.oldPos, run.length});
        explained += run.length;
      }
    }
    if (explained < kLeftOutWorth) {
      for (Written& w : mWritten) w.known.clear();
      return true;
    }
    // Ascending and apart, as the index takes them.
    std::sort(runs.begin(), runs.end(),
              [](const OldRange& a, const OldRange& b) { return a.start < b.start; });
    for (const OldRange& run : runs) {
      if (!mLeftOut.empty() && run.start <= mLeftOut.back().start + mLeftOut.back().length) {
        OldRange& last = mLeftOut.back();
        last.length = std::max(last.length, run.start + run.length - last.start);
      } else {
        mLeftOut.push_back(run);
      }
    }
    return true;
  }

  // An indexed old file that the patch neither replaces nor deletes, or whose bytes look packed, stays
  // indexed only when runs of equal bytes from it give the written files kMinSourceGain bytes at least:
  // sorting is most of the indexing, and most files of a release are unchanged (three-tree: 27.5 MB
  // indexed before, 12.3 MB after). A written file whose bytes look packed is matched on the same terms:
  // searching every position of packed bytes finds little else (a tree with 50 MB of changed images:
  // 74 -> 32 s, 0.3 % larger; its images alone 35 -> 21 s, 0.01 %).
  bool DropUnsharedFiles() {
    std::vector<size_t> files;
    std::vector<uint64_t> starts;
    std::vector<bool> tabled;
    for (size_t f : mOld.byPosition) {
      if (!mOld.indexed[f]) continue;
      files.push_back(f);
      starts.push_back(mOld.at[f]);
      const ByteView bytes(mOldBytes.data() + mOld.at[f], static_cast<size_t>(mOld.files[f].size));
      tabled.push_back(!mOld.kept[f] || LooksPacked(bytes));
    }
    SharedBlocks blocks;
    const bool anyTabled = std::count(tabled.begin(), tabled.end(), true) != 0;
    if (anyTabled && !blocks.Build(mOldBytes.view(), starts, tabled)) return true;
    SharedBlocks::Gains gains(files.size(), 0);
    std::vector<bool> editedInPlace(mOld.files.size(), false);
    for (Written& w : mWritten) {
      if (w.windowed) continue;
      Buffer fresh;
      if (!ReadTreeFile(mNewTree, w.newName, &fresh, mError)) return false;
      const uint64_t shared = anyTabled ? blocks.Credit(fresh.view(), &gains) : 0;
      const bool little =
          shared < std::max(kMinSourceGain, fresh.size() / kPackedShare) && LooksPacked(fresh.view());
      const size_t c = mCounterpart[w.file];
      const bool inPlace = little && c != kNoOldFile && mOld.indexed[c] &&
                           AgreeInPlace(fresh.view(), ByteView(mOldBytes.data() + mOld.at[c],
                                                               static_cast<size_t>(mOld.files[c].size)));
      if (inPlace) editedInPlace[c] = true;  // and kept in the index, which its covers come from
      w.unmatched = little && !inPlace;
    }
    bool dropped = false;
    for (size_t k = 0; k < files.size(); ++k) {
      if (!tabled[k] || gains[k] >= kMinSourceGain || editedInPlace[files[k]]) continue;
      mOld.indexed[files[k]] = false;
      dropped = true;
    }
    if (!dropped) return true;
    const std::vector<uint64_t> was = mOld.at;
    mOld.Place();
    Buffer kept;
    if (!kept.Resize(static_cast<size_t>(mOld.IndexedSize())))
      return Fail(mError, "out of memory reading the old folder");
    for (size_t f : files)
      if (mOld.indexed[f])
        std::memcpy(kept.data() + mOld.at[f], mOldBytes.data() + was[f],
                    static_cast<size_t>(mOld.files[f].size));
    mOldBytes = std::move(kept);
    return true;
  }

  // Old 32-bit executables whose new versions are executables too are read through the transform of
  // PeTranslate.h: a first matching on the raw bytes, against an index of the old image alone, maps where
  // each part of it went, then the old image is translated before the shared index is built (built
  // twice, the index of a tree with images took as long again: 10 s).
  bool TranslateExecutables() {
    for (const Written& w : mWritten) {
      const size_t c = mCounterpart[w.file];
      if (c == kNoOldFile || !mOld.indexed[c]) continue;
      SourceFile& source = mOld.files[c];
      uint8_t* bytes = mOldBytes.data() + mOld.at[c];
      MemorySource oldView(ByteView(bytes, static_cast<size_t>(source.size)));
      PeLayout oldPe, newPe;
      if (!ParsePe(oldView, &oldPe)) continue;
      Buffer fresh;
      if (!ReadTreeFile(mNewTree, w.newName, &fresh, mError)) return false;
      MemorySource newView(fresh.view());
      if (!ParsePe(newView, &newPe)) continue;
      OldIndex image;
      image.bytes = ByteView(bytes, static_cast<size_t>(source.size));
      if (!BuildIndex(&image)) return Fail(mError, "out of memory indexing the old folder");
      std::vector<OffsetPair> pairs;
      for (const Cover& cover : MapCovers(image, fresh.view(), 0, source.size))
        pairs.push_back({cover.oldPos, cover.newPos, cover.length});
      ReleaseSearch(&image);
      AddressMap map;
      if (!BuildAddressMap(oldPe, newPe, pairs, &map)) continue;
      Buffer raw;
      if (!raw.Assign(ByteView(bytes, static_cast<size_t>(source.size))))
        return Fail(mError, "out of memory");
      TranslateRange(oldPe, map, raw.data(), 0, source.size, 0, static_cast<size_t>(source.size), bytes);
      source.translated = true;
      source.map = map;
    }
    return true;
  }

  // The covers of both styles for every written file, and how many bytes each old file gives them.
  // Small files are matched two at a time, one on each core (the index and the new folder are only
  // read); a large one takes both cores for its two styles, and a windowed one its own indexes.
  bool MatchNewFiles() {
    std::vector<Written*> small;
    for (Written& w : mWritten)
      if (!w.windowed && w.newSize < kMatchedTogether) small.push_back(&w);
    // The largest first, so that the cores finish together.
    std::stable_sort(small.begin(), small.end(),
                     [](const Written* a, const Written* b) { return a->newSize > b->newSize; });
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::string errors[2];
    const auto matchSmall = [&](int core) {
      for (size_t k = next++; k < small.size() && !failed; k = next++)
        if (!MatchInIndex(small[k], false, &errors[core])) failed = true;
    };
    OnBothCores([&] { matchSmall(0); }, [&] { matchSmall(1); });
    if (failed) return Fail(mError, errors[0].empty() ? errors[1] : errors[0]);
    uint64_t done = 0;
    for (const Written* w : small) done += w->newSize;
    Report("matching the new files", done, mNewTotal);
    for (Written& w : mWritten) {
      if (!w.windowed && w.newSize < kMatchedTogether) continue;
      if (w.windowed ? !MatchInWindows(mOldTree, mNewTree, OldVersion(w), OldAt(w), mBudget.window, &w,
                                       &mPatch->files[w.file], mError)
                     : !MatchInIndex(&w, true, mError))
        return false;
      Report("matching the new files", done += w.newSize, mNewTotal);
    }
    mCopied.assign(mOld.files.size(), 0);
    for (const Written& w : mWritten)
      for (const std::vector<Cover>& covers : w.covers)
        for (const Cover& cover : covers) mCopied[mOld.FileAt(cover.oldPos)] += cover.length;
    return true;
  }

  // Both styles' covers of a file in the shared index, one style on each core when `together`.
  bool MatchInIndex(Written* w, bool together, std::string* error) {
    Buffer fresh;
    if (!ReadTreeFile(mNewTree, w->newName, &fresh, error)) return false;
    TreeFile& file = mPatch->files[w->file];
    file.newSize = fresh.size();
    file.newCrc = Crc32c(fresh.view());
    const size_t c = mCounterpart[w->file];
    const uint64_t expected = c != kNoOldFile && mOld.indexed[c] ? mOld.at[c] : 0;
    FoundMatches found;
    const auto find = [&](CoverStyle style) {
      w->covers[static_cast<int>(style)] =
          FindCovers(mIndex, fresh.view(), expected, style, together ? nullptr : &found,
                     w->known.empty() ? nullptr : &w->known);
    };
    if (!w->unmatched)
      OnBothCores([&] { find(CoverStyle::Differences); }, [&] { find(CoverStyle::ExactPieces); }, together);
    return true;
  }

  // A source costs its name and size in the directory: one that gives fewer bytes than that saves
  // nothing, and its covers become literals. The kept sources, in name order, make the patch's old space,
  // and every cover is moved there.
  bool KeepUsefulSources() {
    for (size_t f = 0; f < mOld.files.size(); ++f)
      if (!mOld.kept[f] && mCopied[f] < kMinSourceGain) mCopied[f] = 0;
    for (Written& w : mWritten) {
      for (std::vector<Cover>& covers : w.covers) {
        std::vector<Cover> useful;
        for (const Cover& cover : covers) {
          if (mCopied[mOld.FileAt(cover.oldPos)] == 0) continue;
          useful.push_back(cover);
          for (size_t k = mOld.SlotAt(cover.oldPos); k < mOld.byPosition.size(); ++k) {
            if (mOld.at[mOld.byPosition[k]] >= cover.oldPos + cover.length) break;
            mOld.kept[mOld.byPosition[k]] = true;
          }
        }
        covers.swap(useful);
      }
    }
    mKeptAt.assign(mOld.files.size(), 0);
    std::vector<uint32_t> number(mOld.files.size(), 0);
    uint64_t space = 0;
    for (size_t f = 0; f < mOld.files.size(); ++f) {
      if (!mOld.kept[f]) continue;
      mSourceFiles.push_back(f);
      mKeptAt[f] = space;
      number[f] = static_cast<uint32_t>(mPatch->sources.size() + 1);
      SourceFile source = mOld.files[f];
      source.start = space;
      space += source.size;
      mPatch->sources.push_back(source);
    }
    for (size_t f = 0; f < mPatch->files.size(); ++f)
      mPatch->files[f].oldSource = mCounterpart[f] == kNoOldFile ? 0 : number[mCounterpart[f]];
    for (Written& w : mWritten)
      for (std::vector<Cover>& covers : w.covers)
        for (Cover& cover : covers) {
          const size_t f = mOld.FileAt(cover.oldPos);
          cover.spacePos = cover.oldPos - mOld.at[f] + mKeptAt[f];
        }
    return true;
  }

  // Writes the steps of a file for each target. The new files are read again rather than kept: the
  // covers of every file had to be known first, and a tree can be larger than memory.
  bool WriteFileSteps(const Written& w, const std::vector<StepTarget>& targets) {
    if (w.windowed)
      return WriteWindowedSteps(mOldTree, mNewTree, w, OldVersion(w), OldAt(w), targets, mError);
    Buffer fresh;
    if (!ReadTreeFile(mNewTree, w.newName, &fresh, mError)) return false;
    for (const StepTarget& t : targets) WriteSteps(mIndex, fresh.view(), *t.covers, t.style, t.out);
    return true;
  }

  // The steps of both cover styles, each into streams of its own, and where each file's lie in them.
  bool WriteBothStyles() {
    uint64_t done = 0;
    for (const Written& w : mWritten) {
      Slice slice[2];
      for (int style = 0; style < 2; ++style)
        for (int s = 0; s < kStreamCount; ++s) slice[style].from[s] = mStyles[style].bytes[s].size();
      if (!WriteFileSteps(w, {{&w.covers[0], CoverStyle::Differences, &mStyles[0]},
                              {&w.covers[1], CoverStyle::ExactPieces, &mStyles[1]}}))
        return false;
      for (int style = 0; style < 2; ++style) {
        for (int s = 0; s < kStreamCount; ++s)
          slice[style].length[s] = mStyles[style].bytes[s].size() - slice[style].from[s];
        mSlices[style].push_back(slice[style]);
      }
      Report("writing the steps", done += w.newSize, mNewTotal);
    }
    return true;
  }

  // Both styles are compressed once with one setting, one on each core. Each file then takes the style
  // its steps cost least in: executables suit differences, code and text exact pieces, and a tree holds
  // both. The cost is estimated from each whole stream's compressed size per raw byte; where that leaves
  // it close, a file with many steps is measured by compressing them on their own (a file that makes most
  // of the streams was measured with them). The mixed streams are made when the files that would change
  // style gain enough, and kept only when they come out smaller than either style alone; the smallest is
  // then tried with every setting on both cores.
  bool ChooseAndCompress(ByteView old, CodedStreams* out) {
    Report("compressing", 0, 1);
    std::vector<uint8_t> early;
    CodedBefore literals{Codec::LzmaAfterOld, 0, &early};
    // Translated executables take differences: their exact pieces are not compressed to be told apart.
    if (MostlyExecutables()) {
      out->raw = &mStyles[0];
      const bool matched = CodeMatchedAfterOld(mStyles[0], old, &early, &literals.codec);
      DropSuffixArray();
      Compress(mStyles[0], 0, 2, out->stored, out->info, old, matched ? &literals : nullptr);
      return true;
    }
    Candidates all;
    int best = 0;
    // Where the literals of exact pieces (the style of text and code) would read the old space slowly in
    // the last coding, one core codes them so meanwhile, and the other compresses and chooses.
    const std::vector<uint8_t>& pieces = mStyles[1].bytes[kLiterals];
    bool codedEarly = false;
    bool ok = true;
    if (AfterOldReadsSlowly(pieces.size(), old.size)) {
      DropSuffixArray();
      OnBothCores(
          [&] { codedEarly = EncodeLzmaAfterOld(ByteView(pieces.data(), pieces.size()), old, 0, 1, &early); },
          [&] { ok = ChooseStyle(false, &all, &best); });
    } else {
      ok = ChooseStyle(true, &all, &best);
    }
    if (!ok) return false;
    const RawStreams* raws[3] = {&mStyles[0], &mStyles[1], &mMixed};
    out->raw = raws[best];
    const bool coded =
        (best == 1 && codedEarly) || CodeMatchedAfterOld(*raws[best], old, &early, &literals.codec);
    DropSuffixArray();
    Compress(*raws[best], 0, 2, all.stored[best], all.info[best], old, coded ? &literals : nullptr);
    for (int st = 0; st < kStreamCount; ++st) {
      out->stored[st].swap(all.stored[best][st]);
      out->info[st] = all.info[best][st];
    }
    return true;
  }

  // Literals far fewer than the old space, or many (see AfterOldMatchedBeforehand), are coded after it
  // with their matches there found in the index: the coder then reads the literals only, not the old
  // space (27.5 MB of it took 1 s for 250 KB). The index goes once they are found, before the coders take
  // their memory. Where none was built (every written file packed and not searched), the old space is
  // indexed for them: sorting it takes less than the coders' hash chains reading it (one changed 11 MB
  // image: the build 5.2 -> 4.3 s).
  bool CodeMatchedAfterOld(const RawStreams& raw, ByteView old, std::vector<uint8_t>* out, Codec* codec) {
    const std::vector<uint8_t>& literals = raw.bytes[kLiterals];
    if (!AfterOldMatchedBeforehand(literals.size(), old.size)) return false;
    const ByteView stream(literals.data(), literals.size());
    OldMatches matches;
    if (!mIndexBuilt) {
      OldIndex space;
      space.bytes = old;
      if (!BuildIndex(&space)) return false;
      LongestMatches(space, stream, kLongestLzmaMatch, &matches.length, &matches.from);
      ReleaseSearch(&space);
      return EncodeLzmaAfterOldMatched(stream, old, matches, 2, out, codec);
    }
    if (mIndex.order.empty()) return false;
    LongestMatches(mIndex, stream, kLongestLzmaMatch, &matches.length, &matches.from);
    // Moved into the old space as the patch keeps it: not into a file it leaves out, nor past a file's
    // end (the shared index starts at position 0).
    for (size_t i = 0; i < stream.size; ++i) {
      if (!matches.length[i]) continue;
      const uint64_t at = matches.from[i];
      const size_t f = mOld.FileAt(at);
      const uint64_t room = mOld.kept[f] ? mOld.at[f] + mOld.files[f].size - at : 0;
      matches.length[i] = static_cast<uint16_t>(std::min<uint64_t>(matches.length[i], room));
      matches.from[i] = static_cast<uint32_t>(at - mOld.at[f] + mKeptAt[f]);
    }
    DropSuffixArray();
    return EncodeLzmaAfterOldMatched(stream, old, matches, 2, out, codec);
  }

  // The styles' streams compressed once (and the mixed streams', when made), and *best, the smallest;
  // `together`: on both cores.
  bool ChooseStyle(bool together, Candidates* all, int* best) {
    uint64_t(&sizes)[3] = all->sizes;
    // Where both styles' literals are large, they are guessed at alike from samples: the chosen style's
    // are coded in the end (after the old space: see EncodeStream).
    const uint64_t literals =
        std::min(mStyles[0].bytes[kLiterals].size(), mStyles[1].bytes[kLiterals].size());
    const uint64_t guessFrom = literals >= kPartedStream ? kPartedStream : kEstimatedStream;
    const auto compressStyle = [&](int style) {
      sizes[style] = Compress(mStyles[style], 1, 1, all->stored[style], all->info[style], ByteView(), nullptr,
                              guessFrom);
    };
    OnBothCores([&] { compressStyle(0); }, [&] { compressStyle(1); }, together);
    std::vector<int> chosen(mWritten.size(), 0);
    std::vector<std::array<double, 2>> costs(mWritten.size());
    std::vector<size_t> measured;
    for (size_t i = 0; i < mWritten.size(); ++i) {
      std::array<double, 2>& cost = costs[i];
      for (int style = 0; style < 2; ++style) cost[style] = AtRates(mSlices[style][i], all->info[style]);
      const bool close = cost[0] < cost[1] * kClearly && cost[1] < cost[0] * kClearly;
      if (close && StepBytes(i) >= kMeasuredSteps) measured.push_back(i);
    }
    // Each file measured in both styles on one core, the largest first, so that the cores end together.
    std::stable_sort(measured.begin(), measured.end(),
                     [&](size_t a, size_t b) { return StepBytes(a) > StepBytes(b); });
    uint64_t budget = kMeasuredBudget;
    size_t kept = 0;
    for (size_t i : measured) {
      if (StepBytes(i) > budget) continue;
      budget -= StepBytes(i);
      measured[kept++] = i;
    }
    measured.resize(kept);
    std::atomic<size_t> next{0};
    const auto measure = [&] {
      for (size_t k = next++; k < measured.size(); k = next++)
        for (int style = 0; style < 2; ++style) {
          const size_t i = measured[k];
          costs[i][style] = mSlices[style][i].IsMostOf(mStyles[style])
                                ? static_cast<double>(sizes[style])
                                : MeasuredCost(i, style, all->info[style]);
        }
    };
    OnBothCores(measure, measure, together);
    for (size_t i = 0; i < mWritten.size(); ++i) chosen[i] = costs[i][1] < costs[i][0] ? 1 : 0;
    // Mixed streams of files that all chose one style would be that style's streams again.
    const int single = sizes[1] < sizes[0] ? 1 : 0;
    double gain = 0;
    bool chose[2] = {false, false};
    for (size_t i = 0; i < mWritten.size(); ++i) {
      chose[chosen[i]] = true;
      if (chosen[i] != single) gain += costs[i][single] - costs[i][1 - single];
    }
    if (chose[0] && chose[1] && gain * kWorthMixing >= static_cast<double>(sizes[single])) {
      for (size_t i = 0; i < mWritten.size(); ++i)
        if (!WriteFileSteps(mWritten[i],
                            {{&mWritten[i].covers[chosen[i]], static_cast<CoverStyle>(chosen[i]), &mMixed}}))
          return false;
      sizes[2] =
          Compress(mMixed, 1, together ? 2 : 1, all->stored[2], all->info[2], ByteView(), nullptr, guessFrom);
    }
    *best = static_cast<int>(std::min_element(sizes, sizes + 3) - sizes);
    return true;
  }

  // The raw bytes of file i's steps in both styles.
  uint64_t StepBytes(size_t i) const { return mSlices[0][i].Total() + mSlices[1][i].Total(); }

  // What file i's steps cost in `style` compressed on their own. The streams where they are the same in
  // both styles cost the same in either, and are left out, unless a style's steps are most of its
  // streams and measured with them. Those that did not compress as a whole (packed assets) are counted
  // at their rate rather than compressed again.
  double MeasuredCost(size_t i, int style, const StreamInfo (&info)[kStreamCount]) const {
    const Slice both[2] = {mSlices[0][i], mSlices[1][i]};
    const bool leaveSame = !both[0].IsMostOf(mStyles[0]) && !both[1].IsMostOf(mStyles[1]);
    Slice measured = both[style], atRate;
    for (int s = 0; s < kStreamCount; ++s) {
      const std::vector<uint8_t>& first = mStyles[0].bytes[s];
      const std::vector<uint8_t>& second = mStyles[1].bytes[s];
      if (leaveSame && both[0].length[s] == both[1].length[s] &&
          std::equal(first.begin() + both[0].from[s], first.begin() + both[0].from[s] + both[0].length[s],
                     second.begin() + both[1].from[s])) {
        measured.length[s] = 0;
      } else if (DidNotCompress(info[s].storedSize, info[s].decodedSize)) {
        std::swap(measured.length[s], atRate.length[s]);
      }
    }
    return static_cast<double>(CompressedSize(mStyles[style], measured)) + AtRates(atRate, info);
  }

  // The steps of both styles are written and compressed; the literals may be coded after the old space.
  bool WriteAndCompress(std::vector<uint8_t> (&streams)[kStreamCount],
                        std::vector<uint8_t> (&offered)[kStreamCount]) {
    Buffer old;
    bool hasOld = false;
    const bool indexedAsKept = SpaceIsIndexed();
    if (!indexedAsKept && !OldSpaceBytes(&old, &hasOld)) return false;
    const ByteView space = indexedAsKept ? mOldBytes.view() : hasOld ? old.view() : ByteView();
    CodedStreams steps;
    if (!WriteBothStyles() || !ChooseAndCompress(space, &steps)) return false;
    return Keep(&steps, streams, offered);
  }

  // The streams kept, and the bytes of the small ones, which the directory may hold instead.
  bool Keep(CodedStreams* kept, std::vector<uint8_t> (&streams)[kStreamCount],
            std::vector<uint8_t> (&offered)[kStreamCount]) {
    for (int s = 0; s < kStreamCount; ++s) {
      mPatch->streams[s] = kept->info[s];
      streams[s].swap(kept->stored[s]);
      if (kept->raw->bytes[s].size() <= kHeldOffer) offered[s] = kept->raw->bytes[s];
    }
    Report("compressing", 1, 1);
    return true;
  }

  // The patch's old space as the apply reads it, when it fits a decoder's dictionary: the kept sources
  // end to end, as indexed (translated executables translated; a packed file left out of the index is
  // read again). *has is false when there is none, or a file was matched window by window; false when a
  // file cannot be read.
  bool OldSpaceBytes(Buffer* out, bool* has) const {
    *has = false;
    const uint64_t size = HeldOldSpace();
    if (size == 0 || !out->Resize(static_cast<size_t>(size))) return true;
    uint64_t at = 0;
    for (size_t f : mSourceFiles) {
      const size_t length = static_cast<size_t>(mOld.files[f].size);
      if (mOld.indexed[f])
        std::memcpy(out->data() + at, mOldBytes.data() + mOld.at[f], length);
      else if (!ReadTreeFileInto(mOldTree, mOld.files[f].name, out->data() + at, length, mError))
        return false;
      at += length;
    }
    *has = true;
    return true;
  }

  // Whether the patch's old space, held, is the indexed bytes as they lie (every indexed file kept, and no
  // other): then they serve as it, not copied (27.5 MB of a packed tree: 0.07 s).
  bool SpaceIsIndexed() const {
    const uint64_t held = HeldOldSpace();
    if (held == 0 || held != mOldBytes.size()) return false;
    for (size_t f = 0; f < mOld.files.size(); ++f)
      if (mOld.kept[f] != mOld.indexed[f] || (mOld.kept[f] && mOld.at[f] != mKeptAt[f])) return false;
    return true;
  }

  // The size of the patch's old space where a decoder's dictionary can hold it, else 0 (none, too large,
  // or a file was matched window by window).
  uint64_t HeldOldSpace() const {
    for (const Written& w : mWritten)
      if (w.windowed) return 0;
    uint64_t size = 0;
    for (size_t f : mSourceFiles) size += mOld.files[f].size;
    return size <= kMaxOldWindow ? size : 0;
  }

  // The translated executables are most of the old space: their steps take differences.
  bool MostlyExecutables() const {
    uint64_t translated = 0, all = 0;
    for (size_t f : mSourceFiles) {
      all += mOld.files[f].size;
      if (mOld.files[f].translated) translated += mOld.files[f].size;
    }
    return translated * 2 > all;
  }

  FileSystem& mOldTree;
  FileSystem& mNewTree;
  const BuildPlan& mPlan;
  Patch* mPatch;
  BuildSummary* mCounts;
  std::string* mError;
  const Budget mBudget;

  OldSpace mOld;
  std::map<std::string, size_t> mSourceOf;  // folded name -> old file
  std::vector<size_t> mCounterpart;         // per patch file: its old version, or kNoOldFile
  std::vector<Written> mWritten;
  uint64_t mNewTotal = 0;
  Buffer mOldBytes;  // the indexed files end to end
  OldIndex mIndex;
  std::vector<OldRange> mLeftOut;    // old bytes whose suffixes the index leaves out
  bool mIndexBuilt = false;          // false when no written file was searched
  std::vector<uint64_t> mCopied;     // bytes the covers take from each old file
  std::vector<size_t> mSourceFiles;  // the old files the patch keeps, in its order
  std::vector<uint64_t> mKeptAt;     // per old file the patch keeps: where it starts in the old space
  RawStreams mStyles[2];
  RawStreams mMixed;              // the steps of each file in the style it chose
  std::vector<Slice> mSlices[2];  // per written file and style: where its steps lie in each stream
};

}  // namespace

bool WriteTreeStreams(FileSystem& oldTree, FileSystem& newTree, const BuildPlan& plan, Patch* patch,
                      std::vector<uint8_t> (&streams)[kStreamCount],
                      std::vector<uint8_t> (&offered)[kStreamCount], BuildSummary* counts,
                      std::string* error) {
  TreeBuild build(oldTree, newTree, plan, patch, counts, error);
  return build.Run(streams, offered);
}

}  // namespace rtp
