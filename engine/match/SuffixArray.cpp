#include "engine/match/SuffixArray.h"

#include <algorithm>
#include <new>

#ifdef RTP_HAVE_DIVSUFSORT
#include <divsufsort.h>
#endif

namespace rtp {

#ifndef RTP_HAVE_DIVSUFSORT
namespace {

// Prefix doubling: suffixes sorted by their first 2^k bytes, k growing until every rank is unique.
void PrefixDoubling(ByteView text, std::vector<int32_t>* sa) {
  const size_t n = text.size;
  std::vector<int32_t> rank(n), next(n);
  for (size_t i = 0; i < n; ++i) {
    (*sa)[i] = static_cast<int32_t>(i);
    rank[i] = text.data[i];
  }
  for (size_t k = 1;; k <<= 1) {
    const auto key = [&](int32_t i) {
      const size_t j = static_cast<size_t>(i) + k;
      return std::make_pair(rank[static_cast<size_t>(i)], j < n ? rank[j] : -1);
    };
    std::sort(sa->begin(), sa->end(), [&](int32_t a, int32_t b) { return key(a) < key(b); });
    next[static_cast<size_t>((*sa)[0])] = 0;
    for (size_t i = 1; i < n; ++i)
      next[static_cast<size_t>((*sa)[i])] =
          next[static_cast<size_t>((*sa)[i - 1])] + (key((*sa)[i - 1]) < key((*sa)[i]) ? 1 : 0);
    rank.swap(next);
    if (rank[static_cast<size_t>((*sa)[n - 1])] == static_cast<int32_t>(n - 1)) break;
  }
}

}  // namespace
#endif

bool BuildSuffixArray(ByteView text, std::vector<int32_t>* out) {
  out->clear();
  if (text.size > kMaxIndexed) return false;
  if (text.size == 0) return true;
  out->resize(text.size);
#ifdef RTP_HAVE_DIVSUFSORT
  return divsufsort(text.data, out->data(), static_cast<int32_t>(text.size)) == 0;
#else
  PrefixDoubling(text, out);
  return true;
#endif
}

}  // namespace rtp
