#include "engine/build/OldSpace.h"

namespace rtp {

uint64_t OldSpace::IndexedSize() const {
  uint64_t size = 0;
  for (size_t f = 0; f < files.size(); ++f) size += indexed[f] ? files[f].size : 0;
  return size;
}

void OldSpace::Place() {
  at.assign(files.size(), 0);
  byPosition.clear();
  uint64_t next = 0;
  for (bool windowedPass : {false, true}) {
    for (size_t f = 0; f < files.size(); ++f) {
      if (!(windowedPass ? windowed[f] : indexed[f])) continue;
      at[f] = next;
      next += files[f].size;
      byPosition.push_back(f);
    }
  }
}

size_t OldSpace::SlotAt(uint64_t position) const {
  size_t lo = 0, hi = byPosition.size();
  while (hi - lo > 1) {
    const size_t mid = (lo + hi) / 2;
    if (at[byPosition[mid]] <= position)
      lo = mid;
    else
      hi = mid;
  }
  return lo;
}

}  // namespace rtp
