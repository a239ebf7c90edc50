#include "engine/match/Matcher.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "engine/base/Cores.h"
#include "engine/base/Varint.h"
#include "engine/match/SuffixArray.h"

namespace rtp {

namespace {

// Equally long matches looked at on each side when choosing the nearest.
constexpr int64_t kNearCandidates = 256;
// Exact runs at least this long inside a difference cover are written as exact bytes: the apply copies
// them without decoding a difference for each byte.
constexpr uint64_t kExactRun = 256;
// In exact pieces, a difference ends at the first agreeing byte: a piece of one byte costs less than a
// literal (measured on trees of code: 2.6 % smaller patches than ending it after two).
constexpr uint64_t kPieceGap = 1;
// A search looks ahead (see LongestMatch) while this many suffixes or more are left to it.
constexpr int64_t kLookedAhead = 16;
// How many positions ahead of the search the filter's bits are fetched.
constexpr int64_t kPrefetchAhead = 8;
// A match at least this long that the current alignment all but holds is not searched again at every
// position up to the last byte the alignment misses (see FindCovers).
constexpr int64_t kLongMatch = 4096;
// A new alignment more than kNearMove bytes from the current one costs a long move, and one more when
// the covers come back: it is taken when it matches kFarGain bytes more than the margin. Text repeated
// across the files of a packed tree drew the covers to and fro without it (28,425 covers for 1,086
// entries, 18,794 of them far: 21 % of the patch).
constexpr int64_t kNearMove = 512;
constexpr int64_t kFarGain = 24;

int64_t CommonLength(const uint8_t* a, int64_t aLength, const uint8_t* b, int64_t bLength) {
  const int64_t most = std::min(aLength, bLength);
  int64_t i = 0;
  for (; i + 8 <= most; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) break;
  }
  while (i < most && a[i] == b[i]) ++i;
  return i;
}

struct Match {
  int64_t pos = 0;  // in the index's bytes
  int64_t length = 0;
  int64_t at = 0;  // its place in the suffix array
};

bool HasBit(const std::vector<uint64_t>& bits, size_t at) {
  return bits[at >> 6] >> (at & 63) & 1;
}
void SetBit(std::vector<uint64_t>* bits, size_t at) {
  (*bits)[at >> 6] |= uint64_t{1} << (at & 63);
}
uint32_t Triple(const uint8_t* p) {
  return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}
// The filter's two bits of a four-byte string, from two unrelated hashes of it.
uint32_t QuadBit(const uint8_t* p, uint32_t shift) {
  return static_cast<uint32_t>((ReadU32(p) * 0x9E3779B1u) >> shift);
}
uint32_t QuadBit2(const uint8_t* p, uint32_t shift) {
  return static_cast<uint32_t>((uint64_t{ReadU32(p)} * 0xC2B2AE3D27D4EB4Full) >> (32 + shift));
}

// The length of the longest match of `fresh` (at least four bytes) when it is shorter than four; -1 when
// it may be longer.
int64_t ShortMatchLength(const OldIndex& index, const uint8_t* fresh) {
  if (index.quads.empty() || (HasBit(index.quads, QuadBit(fresh, index.quadShift)) &&
                              HasBit(index.quads, QuadBit2(fresh, index.quadShift))))
    return -1;
  if (HasBit(index.triples, Triple(fresh))) return 3;
  const size_t pair = size_t{fresh[0]} << 8 | fresh[1];
  if (index.pairs[pair + 1] > index.pairs[pair]) return 2;
  // The suffixes that start with this byte, whatever follows (the last byte alone among them).
  return index.pairs[(size_t{fresh[0]} + 1) << 8] > index.pairs[size_t{fresh[0]} << 8] ||
                 index.bytes.data[index.bytes.size - 1] == fresh[0]
             ? 1
             : 0;
}

// Asks the caches for the filter's bits of the four bytes at `fresh`, needed a few positions later: a
// scan through bytes that match nothing (packed images) waits on them at every position otherwise.
void PrefetchQuads(const OldIndex& index, const uint8_t* fresh) {
  if (index.quads.empty()) return;
  __builtin_prefetch(&index.quads[QuadBit(fresh, index.quadShift) >> 6]);
  __builtin_prefetch(&index.quads[QuadBit2(fresh, index.quadShift) >> 6]);
}

// The longest match of `fresh` in the index: one of them, as the suffix array gives it; of a match
// shorter than four bytes only the length.
Match LongestMatch(const OldIndex& index, const uint8_t* fresh, int64_t freshLength) {
  const std::vector<int32_t>& sa = index.order;
  const uint8_t* old = index.bytes.data;
  const int64_t n = static_cast<int64_t>(index.bytes.size);
  if (sa.empty() || freshLength == 0) return {};
  if (freshLength >= 4) {
    const int64_t shortLength = ShortMatchLength(index, fresh);
    if (shortLength >= 0) return {0, shortLength, -1};
  }
  int64_t lo = 0, hi = static_cast<int64_t>(sa.size()) - 1;
  if (freshLength >= 2 && !index.pairs.empty()) {
    // The two suffixes around where `fresh` sorts lie from the one before its first two bytes' suffixes
    // to the one after them: the search ends on the pair it would end on over the whole array.
    const size_t pair = size_t{fresh[0]} << 8 | fresh[1];
    hi = std::min<int64_t>(hi, index.pairs[pair + 1]);
    lo = std::max<int64_t>(0, std::min<int64_t>(int64_t{index.pairs[pair]} - 1, hi - 1));
  }
  const auto ask = [](const void* at) { __builtin_prefetch(at); };
  while (hi - lo >= 2) {
    const int64_t mid = lo + (hi - lo) / 2;
    // Each step waits on two misses, the array's entry and then its bytes: the next step's bytes and the
    // entries of the step after are asked for meanwhile (the next step looks at `left` or `right`).
    if (hi - lo >= kLookedAhead) {
      const int64_t left = lo + (mid - lo) / 2, right = mid + (hi - mid) / 2;
      ask(old + sa[static_cast<size_t>(left)]);
      ask(old + sa[static_cast<size_t>(right)]);
      for (const int64_t at :
           {lo + (left - lo) / 2, left + (mid - left) / 2, mid + (right - mid) / 2, right + (hi - right) / 2})
        ask(&sa[static_cast<size_t>(at)]);
    }
    const int64_t p = sa[static_cast<size_t>(mid)];
    const int64_t l = std::min(n - p, freshLength);
    // Compared up to the first difference only (memcmp may look at the whole range).
    const int64_t same = CommonLength(old + p, l, fresh, l);
    const int c = same == l ? 0 : (old[p + same] < fresh[same] ? -1 : 1);
    if (c < 0 || (c == 0 && l < freshLength))
      lo = mid;
    else
      hi = mid;
  }
  const int64_t a =
      CommonLength(old + sa[static_cast<size_t>(lo)], n - sa[static_cast<size_t>(lo)], fresh, freshLength);
  const int64_t b =
      CommonLength(old + sa[static_cast<size_t>(hi)], n - sa[static_cast<size_t>(hi)], fresh, freshLength);
  const int64_t at = a >= b ? lo : hi;
  return {sa[static_cast<size_t>(at)], std::max(a, b), at};
}

// Among the matches as long as `best`, the one nearest to `want`: looked for only for a match that is
// taken, as the search around it reads old bytes all over.
int64_t NearestPos(const OldIndex& index, const uint8_t* fresh, const Match& best, int64_t want) {
  const std::vector<int32_t>& sa = index.order;
  const uint8_t* old = index.bytes.data;
  const int64_t n = static_cast<int64_t>(index.bytes.size);
  int64_t pos = best.pos;
  if (best.length == 0 || best.at < 0) return pos;
  int64_t bestDistance = pos > want ? pos - want : want - pos;
  // Long matches are rare and cost much to compare: fewer candidates for them.
  const int64_t candidates = best.length > 256 ? kNearCandidates / 8 : kNearCandidates;
  for (int direction = -1; direction <= 1; direction += 2) {
    int64_t k = best.at + direction;
    for (int64_t seen = 0; k >= 0 && k < static_cast<int64_t>(sa.size()) && seen < candidates;
         k += direction, ++seen) {
      const int64_t p = sa[static_cast<size_t>(k)];
      if (n - p < best.length || CommonLength(old + p, best.length, fresh, best.length) < best.length) break;
      const int64_t distance = p > want ? p - want : want - p;
      if (distance < bestDistance || (distance == bestDistance && p < pos)) {
        bestDistance = distance;
        pos = p;
      }
    }
  }
  return pos;
}

// LongestMatch at `scan`, searched once for both styles.
Match Remembered(const OldIndex& index, const uint8_t* fresh, int64_t newSize, int64_t scan,
                 FoundMatches* found) {
  const size_t size = static_cast<size_t>(newSize), i = static_cast<size_t>(scan);
  if (found->searched.empty()) {
    found->at.reset(new (std::nothrow) FoundMatches::Found[size]);
    found->searched.assign((size + 63) / 64, 0);
  }
  if (!found->at) return LongestMatch(index, fresh + scan, newSize - scan);
  FoundMatches::Found& entry = found->at[i];
  if (HasBit(found->searched, i)) return {entry.pos, entry.length, entry.at};
  const Match m = LongestMatch(index, fresh + scan, newSize - scan);
  entry = {static_cast<int32_t>(m.pos), static_cast<int32_t>(m.length), static_cast<int32_t>(m.at)};
  SetBit(&found->searched, i);
  return m;
}

void PutSegment(RawStreams* out, uint64_t differences, uint64_t exact) {
  PutVarint(&out->bytes[kSegments], differences);
  PutVarint(&out->bytes[kSegments], exact);
}

// The tables beside the suffix array (see OldIndex), from the bytes alone.
void BuildTables(OldIndex* index) {
  const uint8_t* bytes = index->bytes.data;
  const size_t n = index->bytes.size;
  // Counted from the bytes, not read from the array: the suffix of the last byte alone sorts first
  // among those that start with its byte.
  std::vector<uint32_t> pairs(65537, 0);
  for (size_t i = 0; i + 1 < n; ++i) ++pairs[(size_t{bytes[i]} << 8 | bytes[i + 1]) + 1];
  const size_t lastAlone = size_t{bytes[n - 1]} << 8;
  for (size_t pair = 0; pair < 65536; ++pair) pairs[pair + 1] += pairs[pair];
  for (size_t pair = lastAlone; pair <= 65536; ++pair) ++pairs[pair];
  index->pairs.swap(pairs);
  // A filter of about eight bits an old byte, two set for each four-byte string, keeps false answers of
  // "may be longer" near one in twenty (one bit each: one in eight).
  uint32_t bits = 20;
  while (bits < 30 && (uint64_t{1} << bits) < 8 * uint64_t{n}) ++bits;
  std::vector<uint64_t> triples(size_t{1} << 18, 0), quads(size_t{1} << (bits - 6), 0);
  index->quadShift = 32 - bits;
  for (size_t i = 0; i + 3 <= n; ++i) {
    SetBit(&triples, Triple(bytes + i));
    if (i + 4 <= n) {
      SetBit(&quads, QuadBit(bytes + i, index->quadShift));
      SetBit(&quads, QuadBit2(bytes + i, index->quadShift));
    }
  }
  index->triples.swap(triples);
  index->quads.swap(quads);
}

}  // namespace

bool BuildIndex(OldIndex* index) {
  index->pairs.clear();
  index->triples.clear();
  index->quads.clear();
  if (index->bytes.size == 0) return BuildSuffixArray(index->bytes, &index->order);
  // The tables read only the bytes: they are built on a second thread while the array is sorted.
  bool sorted = false;
  OnBothCores([&] { sorted = BuildSuffixArray(index->bytes, &index->order); }, [&] { BuildTables(index); });
  return sorted;
}

bool BuildIndex(OldIndex* index, const std::vector<OldRange>& leftOut) {
  if (leftOut.empty()) return BuildIndex(index);
  // The kept bytes end to end, sorted as an index of their own, whose positions then move to the bytes.
  const ByteView bytes = index->bytes;
  std::vector<uint64_t> keptAt, bytesAt;  // where each kept run starts in the kept bytes and in `bytes`
  uint64_t kept = 0, from = 0;
  const auto keep = [&](uint64_t to) {
    if (to <= from) return;
    keptAt.push_back(kept);
    bytesAt.push_back(from);
    kept += to - from;
  };
  for (const OldRange& range : leftOut) {
    keep(std::min<uint64_t>(range.start, bytes.size));
    from = std::max(from, range.start + range.length);
  }
  keep(bytes.size);
  Buffer joined;
  if (!joined.Resize(static_cast<size_t>(kept))) return false;
  for (size_t r = 0; r < keptAt.size(); ++r) {
    const uint64_t end = r + 1 < keptAt.size() ? keptAt[r + 1] : kept;
    std::memcpy(joined.data() + keptAt[r], bytes.data + bytesAt[r], static_cast<size_t>(end - keptAt[r]));
  }
  OldIndex sorted;
  sorted.bytes = joined.view();
  if (!BuildIndex(&sorted)) return false;
  for (int32_t& at : sorted.order) {
    const size_t r = static_cast<size_t>(
        std::upper_bound(keptAt.begin(), keptAt.end(), static_cast<uint64_t>(at)) - keptAt.begin() - 1);
    at = static_cast<int32_t>(static_cast<uint64_t>(at) - keptAt[r] + bytesAt[r]);
  }
  index->order.swap(sorted.order);
  index->pairs.swap(sorted.pairs);
  index->triples.swap(sorted.triples);
  index->quads.swap(sorted.quads);
  index->quadShift = sorted.quadShift;
  return true;
}

void ReleaseSearch(OldIndex* index) {
  std::vector<int32_t>().swap(index->order);
  std::vector<uint32_t>().swap(index->pairs);
  std::vector<uint64_t>().swap(index->triples);
  std::vector<uint64_t>().swap(index->quads);
}

int64_t MinGain(CoverStyle style) {
  return style == CoverStyle::Differences ? 6 : 24;
}

std::vector<Cover> FindCovers(const OldIndex& index, ByteView freshView, uint64_t expected, CoverStyle style,
                              FoundMatches* found, const std::vector<Cover>* known) {
  const int64_t minGain = MinGain(style);
  std::vector<Cover> covers;
  const uint8_t* old = index.bytes.data;
  const uint8_t* fresh = freshView.data;
  const int64_t oldSize = static_cast<int64_t>(index.bytes.size);
  const int64_t newSize = static_cast<int64_t>(freshView.size);
  if (oldSize == 0 || newSize == 0) return covers;
  const auto same = [&](int64_t n, int64_t o) { return o >= 0 && o < oldSize && old[o] == fresh[n]; };
  // The file is expected to start where its old version does: that alignment is the first one tried.
  int64_t lastOffset = static_cast<int64_t>(expected) - static_cast<int64_t>(index.base);
  if (lastOffset < 0 || lastOffset >= oldSize) lastOffset = 0;
  int64_t scan = 0, length = 0, pos = 0, lastScan = 0, lastPos = lastOffset;
  size_t run = 0;  // the first known run that does not end before `scan`
  const auto matchAt = [&](int64_t at) {
    for (; known && run < known->size(); ++run) {
      const Cover& r = (*known)[run];
      const int64_t start = static_cast<int64_t>(r.newPos), end = start + static_cast<int64_t>(r.length);
      if (at >= end) continue;
      if (at < start) break;
      return Match{static_cast<int64_t>(r.oldPos - index.base) + at - start, end - at, -1};
    }
    return found ? Remembered(index, fresh, newSize, at, found)
                 : LongestMatch(index, fresh + at, newSize - at);
  };
  while (scan < newSize) {
    int64_t oldScore = 0;
    int64_t scored = scan += length;
    // Where the last match turned down as too far ended: the matches within it gain less.
    int64_t farEnd = 0;
    for (; scan < newSize; ++scan) {
      if (scan + kPrefetchAhead + 4 <= newSize) PrefetchQuads(index, fresh + scan + kPrefetchAhead);
      const Match m = matchAt(scan);
      length = m.length;
      for (; scored < scan + length; ++scored)
        if (same(scored, scored + lastOffset)) ++oldScore;
      if (length == oldScore && length != 0) break;
      if (length > oldScore + minGain && scan + length > farEnd) {
        const int64_t nearest = NearestPos(index, fresh + scan, m, scan + lastOffset);
        const int64_t move = nearest - (scan + lastOffset);
        if (length > oldScore + minGain + kFarGain || (move >= -kNearMove && move <= kNearMove)) {
          pos = nearest;
          break;
        }
        farEnd = scan + length;
      }
      // Repeated bytes (zeros) give such matches at every position: searched at each, every search as
      // long as the match, a 64 MiB file of zeros and a few edits took more than 15 minutes. The scan goes
      // on from the last byte the alignment misses; the matches between gain a few bytes at most.
      if (length >= kLongMatch) {
        int64_t last = scan + length - 1;
        while (last > scan && same(last, last + lastOffset)) --last;
        for (; scan < last; ++scan)
          if (same(scan, scan + lastOffset)) --oldScore;
      }
      if (same(scan, scan + lastOffset)) --oldScore;
    }
    if (length == oldScore && scan != newSize) continue;
    // Grow the last cover forward and the new one back while more than half of the bytes agree.
    int64_t forward = 0;
    for (int64_t i = 0, agree = 0, best = 0; lastScan + i < scan && lastPos + i < oldSize;) {
      if (old[lastPos + i] == fresh[lastScan + i]) ++agree;
      ++i;
      if (agree * 2 - i > best * 2 - forward) {
        best = agree;
        forward = i;
      }
    }
    int64_t back = 0;
    if (scan < newSize) {
      for (int64_t i = 1, agree = 0, best = 0; scan >= lastScan + i && pos >= i; ++i) {
        if (old[pos - i] == fresh[scan - i]) ++agree;
        if (agree * 2 - i > best * 2 - back) {
          best = agree;
          back = i;
        }
      }
    }
    if (lastScan + forward > scan - back) {
      const int64_t overlap = lastScan + forward - (scan - back);
      int64_t score = 0, best = 0, keep = 0;
      for (int64_t i = 0; i < overlap; ++i) {
        if (fresh[lastScan + forward - overlap + i] == old[lastPos + forward - overlap + i]) ++score;
        if (fresh[scan - back + i] == old[pos - back + i]) --score;
        if (score > best) {
          best = score;
          keep = i + 1;
        }
      }
      forward += keep - overlap;
      back -= keep;
    }
    if (forward > 0)
      covers.push_back({index.base + static_cast<uint64_t>(lastPos), static_cast<uint64_t>(lastScan),
                        static_cast<uint64_t>(forward), index.base + static_cast<uint64_t>(lastPos)});
    lastScan = scan - back;
    lastPos = pos - back;
    lastOffset = pos - scan;
  }
  return covers;
}

void LongestMatches(const OldIndex& index, ByteView bytes, uint16_t most, std::vector<uint16_t>* length,
                    std::vector<uint32_t>* pos) {
  // Chunks taken in turn by the cores; in a chunk, a match this long goes on at the next byte without a
  // search (the longest there is at most a byte longer than where it leads, or elsewhere and rare).
  constexpr size_t kChunk = 64u << 10;
  constexpr int64_t kFollowed = 32;
  length->assign(bytes.size, 0);
  pos->assign(bytes.size, 0);
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t from = next.fetch_add(kChunk); from < bytes.size; from = next.fetch_add(kChunk)) {
      const size_t to = std::min(bytes.size, from + kChunk);
      Match followed;
      for (size_t i = from; i < to; ++i) {
        const int64_t rest = static_cast<int64_t>(bytes.size - i);
        if (followed.length > kFollowed) {
          --followed.length;
          ++followed.pos;
        } else {
          followed = LongestMatch(index, bytes.data + i, rest);
          if (followed.length < 4) followed.length = 0;
        }
        (*length)[i] = static_cast<uint16_t>(std::min<int64_t>(followed.length, most));
        (*pos)[i] = static_cast<uint32_t>(followed.length ? followed.pos : 0);
      }
    }
  };
  OnBothCores(work, work);
}

void WriteSteps(const OldIndex& index, ByteView fresh, const std::vector<Cover>& covers, CoverStyle style,
                RawStreams* out) {
  StepCursor cursor;
  WriteWindowSteps(index, fresh, covers, style, true, &cursor, out);
}

void WriteExactWindow(const Cover& cover, uint64_t size, bool last, StepCursor* cursor, RawStreams* out) {
  PutVarint(&out->bytes[kLiteralLengths], cursor->pendingLiteral);
  PutVarint(&out->bytes[kCoverLengths], last && cover.length == size ? 1 : cover.length * 2);
  PutVarint(&out->bytes[kMoves],
            FoldSigned(static_cast<int64_t>(cover.spacePos - (out->lastOldEnd + cursor->pendingLiteral))));
  out->lastOldEnd = cover.spacePos + cover.length;
  cursor->pendingLiteral = 0;
}

namespace {

// Writes one window's covers as steps, in either style.
class StepWriter {
 public:
  StepWriter(const OldIndex& index, ByteView fresh, bool last, StepCursor* cursor, RawStreams* out)
      : mIndex(index), mFresh(fresh), mLast(last), mCursor(cursor), mOut(out) {}

  // Exact pieces of the cover at its alignment; what differs goes out as literals.
  void ExactPieces(const Cover& whole) {
    uint64_t i = 0;
    while (i < whole.length) {
      uint64_t start = i;
      i += Agreeing(whole, i, whole.length - i);
      if (i - start >= kPieceGap || (start == 0 && i == whole.length)) {
        const Cover piece{whole.oldPos + start, whole.newPos + start, i - start, whole.spacePos + start};
        Step(piece.newPos, &piece, false);
      }
      // Skip the difference: it ends where kPieceGap bytes agree.
      while (i < whole.length) {
        if (!Agrees(whole, i)) {
          ++i;
          continue;
        }
        uint64_t agree = 0;
        while (i + agree < whole.length && agree < kPieceGap && Agrees(whole, i + agree)) ++agree;
        if (agree >= kPieceGap || i + agree == whole.length) break;
        i += agree;
      }
    }
  }

  // Difference bytes, with long exact runs cut out of them; a cover without any is an exact copy.
  void Differences(const Cover& whole) {
    const bool differs = Agreeing(whole, 0, whole.length) != whole.length;
    Step(whole.newPos, &whole, differs);
    if (!differs) return;
    uint64_t i = 0, differencesFrom = 0;
    while (i < whole.length) {
      if (!Agrees(whole, i)) {
        ++i;
        continue;
      }
      const uint64_t run = Agreeing(whole, i, whole.length - i);
      if (run >= kExactRun) {
        PutSegment(mOut, i - differencesFrom, run);
        PutDifferences(whole, differencesFrom, i);
        differencesFrom = i + run;
      }
      i += run;
    }
    if (differencesFrom < whole.length) {
      PutSegment(mOut, whole.length - differencesFrom, 0);
      PutDifferences(whole, differencesFrom, whole.length);
    }
  }

  // The window's end: the last literal of the file, or a tail that waits for the next window's first step.
  void End() {
    if (mLast && (mAt < mFresh.size || mCursor->pendingLiteral)) {
      Step(mFresh.size, nullptr, false);
    } else if (!mLast) {
      mOut->bytes[kLiterals].insert(mOut->bytes[kLiterals].end(), mFresh.data + mAt,
                                    mFresh.data + mFresh.size);
      mCursor->pendingLiteral += mFresh.size - mAt;
    }
  }

 private:
  uint8_t OldByte(uint64_t oldPos) const { return mIndex.bytes.data[oldPos - mIndex.base]; }
  bool Agrees(const Cover& cover, uint64_t i) const {
    return mFresh.data[cover.newPos + i] == OldByte(cover.oldPos + i);
  }
  // How many bytes from `i` of a cover agree with the old ones, at most `most`: eight at a time.
  uint64_t Agreeing(const Cover& cover, uint64_t i, uint64_t most) const {
    return static_cast<uint64_t>(CommonLength(mFresh.data + cover.newPos + i, static_cast<int64_t>(most),
                                              mIndex.bytes.data + (cover.oldPos - mIndex.base) + i,
                                              static_cast<int64_t>(most)));
  }
  void PutDifferences(const Cover& cover, uint64_t from, uint64_t to) {
    for (uint64_t k = from; k < to; ++k)
      mOut->bytes[kDiff].push_back(
          static_cast<uint8_t>(mFresh.data[cover.newPos + k] - OldByte(cover.oldPos + k)));
    if (from == to) return;
    // The old bytes around the run, as the apply reads them: those outside the cover are zero.
    DifferenceRuns& runs = mOut->differences;
    runs.lengths.push_back(to - from);
    const int64_t length = static_cast<int64_t>(cover.length);
    for (int64_t k = static_cast<int64_t>(from) - kContextBefore;
         k < static_cast<int64_t>(to) + kContextAfter; ++k)
      runs.around.push_back(k >= 0 && k < length ? OldByte(cover.oldPos + static_cast<uint64_t>(k)) : 0);
  }

  // One step: the literal up to `literalEnd`, then the cover, with or without differences.
  void Step(uint64_t literalEnd, const Cover* cover, bool differences) {
    const uint64_t literal = mCursor->pendingLiteral + literalEnd - mAt;
    mCursor->pendingLiteral = 0;
    PutVarint(&mOut->bytes[kLiteralLengths], literal);
    // An exact cover that ends the file is written as 1: it saves its length where most files end.
    const bool toTheEnd = mLast && cover && !differences && cover->newPos + cover->length == mFresh.size;
    PutVarint(&mOut->bytes[kCoverLengths], toTheEnd ? 1
                                           : cover  ? cover->length * 2 + (differences ? 1 : 0)
                                                    : 0);
    mOut->bytes[kLiterals].insert(mOut->bytes[kLiterals].end(), mFresh.data + mAt, mFresh.data + literalEnd);
    mAt = literalEnd;
    if (!cover) return;
    PutVarint(&mOut->bytes[kMoves],
              FoldSigned(static_cast<int64_t>(cover->spacePos - (mOut->lastOldEnd + literal))));
    mOut->lastOldEnd = cover->spacePos + cover->length;
    mAt += cover->length;
  }

  const OldIndex& mIndex;
  ByteView mFresh;
  bool mLast;
  StepCursor* mCursor;
  RawStreams* mOut;
  uint64_t mAt = 0;  // in the window
};

}  // namespace

void WriteWindowSteps(const OldIndex& index, ByteView fresh, const std::vector<Cover>& covers,
                      CoverStyle style, bool last, StepCursor* cursor, RawStreams* out) {
  StepWriter writer(index, fresh, last, cursor, out);
  for (const Cover& cover : covers) {
    if (style == CoverStyle::ExactPieces) {
      writer.ExactPieces(cover);
    } else {
      writer.Differences(cover);
    }
  }
  writer.End();
}

}  // namespace rtp
