#pragma once
// The old folder as a patch being built sees it: every old file; which are in the shared index and which
// are matched window by window; where each of those lies among the positions covers name (the indexed
// files end to end from 0, the windowed ones after them); and which the patch keeps as its sources.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/format/PatchFormat.h"

namespace rtp {

// No old file: a new file's counterpart.
constexpr size_t kNoOldFile = SIZE_MAX;

struct OldSpace {
  std::vector<SourceFile> files;   // every old file, in name order
  std::vector<bool> indexed;       // its bytes are in the shared index
  std::vector<bool> windowed;      // it is matched window by window against its new version
  std::vector<uint64_t> at;        // where it lies among covers' positions
  std::vector<bool> kept;          // the patch names it as a source
  std::vector<size_t> byPosition;  // the indexed and windowed files, in position order

  // The bytes of the indexed files, which Place lays out end to end from position 0.
  uint64_t IndexedSize() const;
  // Gives every indexed and windowed file its position.
  void Place();
  // Where in byPosition the file holding `position` is; and that file.
  size_t SlotAt(uint64_t position) const;
  size_t FileAt(uint64_t position) const { return byPosition[SlotAt(position)]; }
};

}  // namespace rtp
