#include "engine/match/InducedSort.h"

#include <algorithm>
#include <vector>

namespace rtp {

namespace {

// Where each character's suffixes start in the array, or end.
template <typename Char>
void Buckets(const Char* s, int32_t n, std::vector<int32_t>* bucket, bool ends) {
  std::fill(bucket->begin(), bucket->end(), 0);
  for (int32_t i = 0; i < n; ++i) ++(*bucket)[static_cast<size_t>(s[i])];
  int32_t sum = 0;
  for (int32_t& at : *bucket) {
    const int32_t count = at;
    sum += count;
    at = ends ? sum : sum - count;
  }
}

// From the sorted leftmost-smaller suffixes at their buckets' ends: the larger-type suffixes placed
// left to right at their buckets' starts, then the smaller-type ones right to left at their ends. The
// text ends in a sentinel smaller than every character, which puts its last suffix first in its bucket.
template <typename Char>
void Induce(const Char* s, int32_t* sa, int32_t n, const std::vector<bool>& smaller,
            std::vector<int32_t>* bucket) {
  Buckets(s, n, bucket, false);
  sa[(*bucket)[static_cast<size_t>(s[n - 1])]++] = n - 1;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t j = sa[i] - 1;
    if (j >= 0 && !smaller[static_cast<size_t>(j)]) sa[(*bucket)[static_cast<size_t>(s[j])]++] = j;
  }
  Buckets(s, n, bucket, true);
  for (int32_t i = n - 1; i >= 0; --i) {
    const int32_t j = sa[i] - 1;
    if (j >= 0 && smaller[static_cast<size_t>(j)]) sa[--(*bucket)[static_cast<size_t>(s[j])]] = j;
  }
}

// `s` holds characters below `k`.
template <typename Char>
void Sort(const Char* s, int32_t* sa, int32_t n, int32_t k) {
  // A suffix is of the smaller type when it sorts before the one after it; the last is larger.
  std::vector<bool> smaller(static_cast<size_t>(n), false);
  for (int32_t i = n - 2; i >= 0; --i)
    smaller[static_cast<size_t>(i)] =
        s[i] < s[i + 1] || (s[i] == s[i + 1] && smaller[static_cast<size_t>(i) + 1]);
  const auto leftmost = [&](int32_t i) {
    return i > 0 && smaller[static_cast<size_t>(i)] && !smaller[static_cast<size_t>(i) - 1];
  };
  std::vector<int32_t> bucket(static_cast<size_t>(k));
  // The leftmost-smaller substrings (from one such position to the next) sorted by induction.
  Buckets(s, n, &bucket, true);
  std::fill(sa, sa + n, -1);
  for (int32_t i = 1; i < n; ++i)
    if (leftmost(i)) sa[--bucket[static_cast<size_t>(s[i])]] = i;
  Induce(s, sa, n, smaller, &bucket);
  int32_t n1 = 0;
  for (int32_t i = 0; i < n; ++i)
    if (leftmost(sa[i])) sa[n1++] = sa[i];
  // Named in that order, alike substrings alike; the names kept at half their positions (the positions
  // are two apart at least), then gathered in text order at the array's end.
  std::fill(sa + n1, sa + n, -1);
  int32_t names = 0;
  for (int32_t i = 0, previous = -1; i < n1; ++i) {
    const int32_t pos = sa[i];
    bool differs = previous < 0;
    for (int32_t d = 0; !differs; ++d) {
      if (pos + d == n || previous + d == n || s[pos + d] != s[previous + d] ||
          smaller[static_cast<size_t>(pos + d)] != smaller[static_cast<size_t>(previous + d)]) {
        differs = true;
      } else if (d > 0 && leftmost(pos + d)) {
        break;  // both end here: the types so far agree
      }
    }
    if (differs) {
      ++names;
      previous = pos;
    }
    sa[n1 + pos / 2] = names - 1;
  }
  for (int32_t i = n - 1, j = n - 1; i >= n1; --i)
    if (sa[i] >= 0) sa[j--] = sa[i];
  // Their suffixes sorted: directly where every name is unique, else by sorting the string of names.
  int32_t* names1 = sa + n - n1;
  if (names < n1) {
    Sort(names1, sa, n1, names);
  } else {
    for (int32_t i = 0; i < n1; ++i) sa[names1[i]] = i;
  }
  for (int32_t i = 1, j = 0; i < n; ++i)
    if (leftmost(i)) names1[j++] = i;
  for (int32_t i = 0; i < n1; ++i) sa[i] = names1[sa[i]];
  std::fill(sa + n1, sa + n, -1);
  Buckets(s, n, &bucket, true);
  for (int32_t i = n1 - 1; i >= 0; --i) {
    const int32_t j = sa[i];
    sa[i] = -1;
    sa[--bucket[static_cast<size_t>(s[j])]] = j;
  }
  Induce(s, sa, n, smaller, &bucket);
}

}  // namespace

void InducedSort(ByteView text, int32_t* sa) {
  if (text.size == 0) return;
  Sort(text.data, sa, static_cast<int32_t>(text.size), 256);
}

}  // namespace rtp
