#include "engine/build/WindowMatch.h"

#include <algorithm>
#include <cstring>

#include "engine/base/Crc32c.h"
#include "engine/build/Builder.h"
#include "engine/build/TreeRead.h"
#include "engine/match/SuffixArray.h"

namespace rtp {

namespace {

// A window of new bytes is half its window of old ones: the rest lets the old bytes drift either way.
constexpr uint64_t kNewShare = 2;

}  // namespace

bool MatchInWindows(FileSystem& oldTree, FileSystem& newTree, const SourceFile* old, uint64_t oldAt,
                    uint64_t window, Written* w, TreeFile* file, std::string* error) {
  const uint64_t newSize = w->newSize;
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
      OnBothCores([&] { find(0); }, [&] { find(1); });
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
