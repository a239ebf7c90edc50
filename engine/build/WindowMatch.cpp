#include "engine/build/WindowMatch.h"

#include <algorithm>
#include <cstring>

#include "engine/base/Cores.h"
#include "engine/base/Crc32c.h"
#include "engine/build/Builder.h"
#include "engine/build/TreeRead.h"
#include "engine/match/SharedBlocks.h"
#include "engine/match/SuffixArray.h"

namespace rtp {

namespace {

// A window of new bytes is half its window of old ones: the rest lets the old bytes drift either way.
constexpr uint64_t kNewShare = 2;

// Blocks compared where the last cover says they are: most of a large packed file is where it was.
constexpr uint64_t kBlock = 64 * 1024;
// This many bytes agreeing at a drift other than the one a changed run started from end the run (there a
// part of a packed file from elsewhere begins).
constexpr uint64_t kResync = 4096;
// Where a changed run ends is found from a table of the old window's blocks, one every this many bytes,
// then traced back to the first equal byte.
constexpr uint64_t kTableSpacing = 256;
// The old bytes on either side of a changed run that its own small index holds: enough for what moved a
// little (an insertion shifts what follows it).
constexpr uint64_t kMargin = 256 * 1024;

// A new window and the old window it is matched against, in file positions: the new bytes from `from`,
// the old ones from `first`. A drift is an old position minus the new one it is aligned with.
struct WindowPair {
  ByteView fresh;
  uint64_t from;
  ByteView old;
  uint64_t first;

  // Where in `old` the n new bytes at `pos` lie at `drift`; false when not all of them are in it.
  bool AlignedAt(uint64_t pos, uint64_t n, int64_t drift, int64_t* at) const {
    *at = static_cast<int64_t>(from + pos) + drift - static_cast<int64_t>(first);
    return *at >= 0 && static_cast<uint64_t>(*at) + n <= old.size;
  }
  bool Same(uint64_t pos, uint64_t n, int64_t drift) const {
    int64_t at;
    return AlignedAt(pos, n, drift, &at) &&
           std::memcmp(old.data + at, fresh.data + pos, static_cast<size_t>(n)) == 0;
  }
  uint64_t BlockAt(uint64_t pos) const { return std::min(kBlock, fresh.size - pos); }
};

// Where a run of changed new bytes from `pos` ends: at the first position where a block of the old
// window (from `blocks`) starts and a whole kBlock agrees, at the drift the run began with (an edit in
// place) or at the one that block tells (bytes inserted, removed or moved); or where kResync bytes agree
// at a drift other than the one the run's first block told (the parts of a packed file come from
// several places); the window's end when there is none. *drift becomes the drift from there on; *source,
// the drift the run's first block tells, where its bytes most likely come from (an edited part that
// also moved comes from its own old place, not from where what came before it did). A block of repeated
// bytes (zeros) is tabled at its first place only: where the drift the run began with holds it too, that
// is the drift it tells.
uint64_t ChangedRunEnd(const WindowPair& pair, const SharedBlocks& blocks, uint64_t pos, int64_t* drift,
                       int64_t* source) {
  // The run ends at the first of the equal bytes before the block, after `floor`.
  const auto firstEqual = [&](uint64_t at, uint64_t floor) {
    while (at > floor && pair.Same(at - 1, 1, *drift)) --at;
    return at;
  };
  uint64_t at = pos, oldAt = 0, firstFound = 0;
  bool found = false;
  for (; blocks.NextShared(pair.fresh, at, &at, &oldAt); ++at) {
    const uint64_t n = pair.BlockAt(at);
    const int64_t tabled = static_cast<int64_t>(pair.first + oldAt) - static_cast<int64_t>(pair.from + at);
    const int64_t told = pair.Same(at, std::min(n, kResync), *drift) ? *drift : tabled;
    if (!found) {
      *source = told;
      firstFound = at;
      found = true;
    }
    if (pair.Same(at, n, *drift)) return firstEqual(at, pos);
    if (pair.Same(at, n, told) || (told != *source && pair.Same(at, std::min(n, kResync), told))) {
      *drift = told;
      return firstEqual(at, told == *source ? pos : firstFound + 1);
    }
  }
  return pair.fresh.size;
}

// The new window `fresh` (from `from` in the file) against the old window `old` (from `first` in the old
// file, whose bytes covers name from `oldAt` on), block by block: a block the old bytes hold at the
// expected place extends one exact part, a run of other bytes, up to where the old bytes agree again, is
// matched against a small index of the old bytes around it (the whole old window when the run is a
// quarter of it or more: what long changed runs hold may come from anywhere). `drift` is the old position
// minus the new one where the last cover was, and moves with the covers found.
bool MatchWindow(ByteView fresh, uint64_t from, ByteView old, uint64_t first, uint64_t oldAt, int64_t* drift,
                 Written* w, std::string* error) {
  const WindowPair pair{fresh, from, old, first};
  SharedBlocks blocks;  // the old window's, tabled at the first changed run
  bool tabled = false;
  // The new bytes [pos, end), equal to the old ones at `at` drift, as one exact part.
  const auto exactPart = [&](uint64_t pos, uint64_t end, int64_t at) {
    pair.AlignedAt(pos, end - pos, at, &at);
    Window part{from + pos, from + end, first + static_cast<uint64_t>(at),
                first + static_cast<uint64_t>(at) + end - pos, true};
    const uint64_t oldPos = oldAt + part.oldFrom;
    for (std::vector<Cover>& covers : w->covers) covers.push_back({oldPos, from + pos, end - pos, oldPos});
    w->windows.push_back(part);
  };
  for (uint64_t pos = 0; pos < fresh.size;) {
    uint64_t end = pos;
    while (end < fresh.size && pair.Same(end, pair.BlockAt(end), *drift)) end += pair.BlockAt(end);
    if (end > pos) {
      exactPart(pos, end, *drift);
      pos = end;
      continue;
    }
    if (!tabled && !blocks.Build(old, {0}, {true}, kTableSpacing))
      return Fail(error, "out of memory indexing an old file");
    tabled = true;
    int64_t resumed = *drift, source = *drift;
    end = ChangedRunEnd(pair, blocks, pos, &resumed, &source);
    if (end == pos) {  // the bytes moved: they agree at the drift their block tells
      *drift = resumed;
      continue;
    }
    // A part from elsewhere that agrees whole where its first block says is copied from there.
    if (pair.Same(pos, end - pos, source)) {
      exactPart(pos, end, source);
      *drift = end < fresh.size ? resumed : source;
      pos = end;
      continue;
    }
    // The old bytes around where the run is expected.
    const int64_t expected = static_cast<int64_t>(from + pos) + source - static_cast<int64_t>(first);
    uint64_t lo = static_cast<uint64_t>(std::max<int64_t>(expected - static_cast<int64_t>(kMargin), 0));
    uint64_t hi =
        static_cast<uint64_t>(std::max<int64_t>(expected + static_cast<int64_t>(end - pos + kMargin), 0));
    hi = std::min<uint64_t>(hi, old.size);
    if (lo >= hi || (end - pos) * 4 > old.size) {
      lo = 0;
      hi = old.size;
    }
    Window part{from + pos, from + end, first + lo, first + hi, false};
    OldIndex index;
    index.bytes = ByteView(old.data + lo, static_cast<size_t>(hi - lo));
    index.base = oldAt + part.oldFrom;
    if (!BuildIndex(&index)) return Fail(error, "out of memory indexing an old file");
    const uint64_t hint = oldAt + first + static_cast<uint64_t>(std::max<int64_t>(expected, 0));
    const ByteView run(fresh.data + pos, static_cast<size_t>(end - pos));
    std::vector<Cover> found[2];
    const auto find = [&](int style) {
      found[style] = FindCovers(index, run, hint, static_cast<CoverStyle>(style));
    };
    OnBothCores([&] { find(0); }, [&] { find(1); });
    for (int style = 0; style < 2; ++style)
      for (Cover cover : found[style]) {
        cover.newPos += from + pos;
        w->covers[style].push_back(cover);
      }
    // Where the old bytes agree again, they tell the drift; else the last cover does.
    if (end < fresh.size)
      *drift = resumed;
    else if (!found[0].empty())
      *drift = static_cast<int64_t>(found[0].back().oldPos - oldAt) -
               static_cast<int64_t>(found[0].back().newPos + from + pos);
    w->windows.push_back(part);
    pos = end;
  }
  return true;
}

}  // namespace

bool MatchInWindows(FileSystem& oldTree, FileSystem& newTree, const SourceFile* old, uint64_t oldAt,
                    uint64_t window, Written* w, TreeFile* file, std::string* error) {
  const uint64_t newSize = w->newSize;
  const uint64_t step = std::max<uint64_t>(window / kNewShare, 1);
  int64_t drift = 0;  // old position minus new position where the last cover was
  uint32_t crc = 0;
  Buffer fresh, oldBytes;
  for (uint64_t from = 0; from < newSize; from += step) {
    const uint64_t to = std::min(newSize, from + step);
    if (!ReadRange(newTree, w->newName, from, to - from, &fresh, error)) return false;
    crc = Crc32c(fresh.view(), crc);
    if (!old || old->size == 0) {
      w->windows.push_back(Window{from, to, 0, 0, false});  // every byte a literal
      continue;
    }
    // The old window is centred where the new window's content is expected.
    const uint64_t span = std::min(window, old->size);
    const int64_t centre = static_cast<int64_t>(from + (to - from) / 2) + drift;
    const uint64_t first =
        static_cast<uint64_t>(std::min<int64_t>(std::max<int64_t>(centre - static_cast<int64_t>(span / 2), 0),
                                                static_cast<int64_t>(old->size - span)));
    if (!ReadRange(oldTree, old->name, first, span, &oldBytes, error)) return false;
    if (!MatchWindow(fresh.view(), from, oldBytes.view(), first, oldAt, &drift, w, error)) return false;
  }
  file->newSize = newSize;
  file->newCrc = crc;
  return true;
}

bool WriteWindowedSteps(FileSystem& oldTree, FileSystem& newTree, const Written& w, const SourceFile* old,
                        uint64_t oldAt, const std::vector<StepTarget>& targets, std::string* error) {
  std::vector<StepCursor> cursors(targets.size());
  std::vector<size_t> next(targets.size(), 0);
  Buffer fresh, oldBytes;
  for (size_t k = 0; k < w.windows.size(); ++k) {
    const Window& window = w.windows[k];
    const bool last = k + 1 == w.windows.size();
    if (window.exact) {
      for (size_t t = 0; t < targets.size(); ++t)
        WriteExactWindow((*targets[t].covers)[next[t]++], window.newTo - window.newFrom, last, &cursors[t],
                         targets[t].out);
      continue;
    }
    OldIndex part;
    if (!ReadRange(newTree, w.newName, window.newFrom, window.newTo - window.newFrom, &fresh, error))
      return false;
    if (old) {
      if (!ReadRange(oldTree, old->name, window.oldFrom, window.oldTo - window.oldFrom, &oldBytes, error))
        return false;
      part.bytes = oldBytes.view();
      part.base = oldAt + window.oldFrom;
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
}

}  // namespace rtp
