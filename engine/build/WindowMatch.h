#pragma once
// The written files of a patch being built, as the matcher sees them; and the matching of a file too
// large for the build's memory, window by window against its old version, with the writing of its steps.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/fs/FileSystem.h"
#include "engine/format/PatchFormat.h"
#include "engine/match/Matcher.h"

namespace rtp {

// A part of a file matched window by window: its new bytes [newFrom, newTo) against the old bytes
// [oldFrom, oldTo) of its old version.
struct Window {
  uint64_t newFrom = 0, newTo = 0;
  uint64_t oldFrom = 0, oldTo = 0;
  bool exact = false;  // one exact cover gives it whole
};

// One written file.
struct Written {
  size_t file = 0;      // in the patch's files
  std::string newName;  // in the new folder
  uint64_t newSize = 0;
  std::vector<Cover> covers[2];  // for each cover style
  std::vector<Cover> known;      // long runs of its old version's bytes, found before the index is built
  bool windowed = false;         // matched window by window
  bool unmatched = false;        // packed bytes that share little with the old files: all literal
  std::vector<Window> windows;
};

// Where one style's steps of a file go.
struct StepTarget {
  const std::vector<Cover>* covers;
  CoverStyle style;
  RawStreams* out;
};

// Matches `w` window by window against its old version `old` (null: the file is new, every byte a
// literal), whose bytes covers name from `oldAt` on, each window of old bytes (`window` of them) centred
// where the last cover says the new window's content went. A window the old bytes hold unchanged there is
// one exact cover, with no index built. Fills the file's size and CRC-32C.
bool MatchInWindows(FileSystem& oldTree, FileSystem& newTree, const SourceFile* old, uint64_t oldAt,
                    uint64_t window, Written* w, TreeFile* file, std::string* error);

// Writes the steps of a windowed file for each target, window by window, its bytes read again.
bool WriteWindowedSteps(FileSystem& oldTree, FileSystem& newTree, const Written& w, const SourceFile* old,
                        uint64_t oldAt, const std::vector<StepTarget>& targets, std::string* error);

}  // namespace rtp
