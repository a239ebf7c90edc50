#pragma once
// Makes a patch from two folders: every file that was added, changed or removed between the old and the
// new folder gets one entry (deletions first, then the rest by name); unchanged files get none. A changed
// file becomes a delta when that is smaller than the whole file, else a replacement. Names are matched
// ignoring case, as Windows does.
//
// Test controls ride along as notices placed among the files, and as header fields. They are given as
// words with one argument each, the same as options of "rtpbuild build" (--WORD ARG) and as lines of a
// recipe file (WORD ARG, '#' starts a comment line):
//   biggest BYTES            the disk need RTPatchGetCost reports, instead of the computed one
//   announce COUNT|none      the file count sent with id 6, or no id 6 at all
//   delay-ms MS              a delay on every file (spread over its progress callbacks)
//   file-delay NAME:MS       a delay on one file
//   at WHERE                 where the following notices go: start (the default), end, before:NAME or
//                            after:NAME (NAME: a file of the patch)
//   notify-warning TEXT      id 1 with TEXT (notify-warning2 and notify-warning4: ids 2 and 4)
//   notify-error NUMBER      id 3 with the engine's own text for NUMBER ("Error ept15: file not found")
//   notify-error-text TEXT   id 3 with TEXT as it is
//   notify-detail TEXT       id 9 with TEXT
//   notify-locked 26|28      that id, parameter null
//   notify ID[:ARG]          any id: ARG is the text for ids 1, 2, 3, 4, 7, 9, the number for 5 and 6,
//                            and absent for the others (parameter null)
//   pause MS                 the engine waits MS (id 10 every 50 ms), then sends id 10
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/fs/FileSystem.h"
#include "engine/format/PatchFormat.h"

namespace rtp {

enum class Place { Start, End, Before, After };

struct Notice {
  uint8_t id = 0;
  std::string text;     // ids that carry a text
  uint32_t number = 0;  // ids that carry a number
  uint32_t delayMs = 0;
};

struct PlacedNotice {
  Place place = Place::Start;
  std::string file;  // Before and After
  Notice notice;
};

// Told what the builder does: the phase, and how many of its bytes are done of how many.
using BuildProgress = std::function<void(const char* phase, uint64_t done, uint64_t total)>;

struct BuildOptions {
  uint32_t flags = 0;  // HeaderFlag bits
  uint32_t biggest = 0;
  uint32_t announced = 0;
  uint32_t fileDelayMs = 0;
  std::vector<std::pair<std::string, uint32_t>> fileDelays;
  std::vector<PlacedNotice> notices;
  BuildProgress progress;  // not told when empty
  uint64_t maxMemory = 0;  // bytes; 0: kDefaultBuildMemory
};

// Collects control words into build options.
class Controls {
 public:
  static bool IsWord(const std::string& word);
  // False, with a message, when the word is unknown or its argument is not what it takes.
  bool Add(const std::string& word, const std::string& argument, std::string* error);
  // Lines "WORD ARG"; blank lines and lines starting with '#' are skipped.
  bool AddRecipe(ByteView text, std::string* error);
  const BuildOptions& options() const { return mOptions; }

 private:
  bool AddNotice(uint8_t id, const std::string& argument, std::string* error);

  Place mPlace = Place::Start;
  std::string mPlaceFile;
  BuildOptions mOptions;
};

struct BuildSummary {
  uint32_t added = 0;
  uint32_t patched = 0;  // as a delta
  uint32_t deleted = 0;
  uint32_t unchanged = 0;
  uint32_t notices = 0;
  uint64_t bytes = 0;  // of the patch written
};

// One entry of the patch to be written: a notice, or a file with its names in the two folders. A
// changed file is planned as a delta, with its old and new sizes and CRC-32s.
struct PlannedEntry {
  PatchEntry entry;
  std::string oldName;  // changed files
  std::string newName;  // added and changed files
};

struct BuildPlan {
  PatchHeader header;
  std::vector<PlannedEntry> entries;
  std::vector<std::string>
      oldFiles;          // every file of the old folder, by folded name: what files may copy from
  BuildSummary summary;  // all but the changed files, which are counted as they are written
  BuildProgress progress;
  uint64_t maxMemory = 0;
};

// Compares the two folders, reading their files in pieces, and decides every entry; writes nothing.
// False with a message when a folder or file cannot be read, a name cannot go into a patch, or a
// control names no file of the patch. Files may be of any size.
bool PlanPatch(FileSystem& oldTree, FileSystem& newTree, const BuildOptions& options, BuildPlan* plan,
               std::string* error);

// Writes the planned patch into `out` in format version 2: the old folder's files are indexed together,
// so an added or changed file copies from whichever old file holds its bytes, within the memory the
// build may take (a tenth of it, at most kIndexBudget bytes; beyond that only the old versions of the
// changed files are indexed). A file larger than a twentieth of that memory, or whose old version is, is
// matched window by window against its old version alone, each window of old bytes following where the
// content went: time grows with the client's size, memory does not.
constexpr uint64_t kIndexBudget = uint64_t{3} << 29;  // 1.5 GiB of old data in one suffix array
// The memory a build takes at most unless told (BuildOptions::maxMemory): 8 GiB, or 1 GiB in a 32-bit
// process. Old data beyond what fits is matched window by window.
constexpr uint64_t kDefaultBuildMemory = sizeof(void*) >= 8 ? uint64_t{8} << 30 : uint64_t{1} << 30;

bool WritePlannedPatch(FileSystem& oldTree, FileSystem& newTree, const BuildPlan& plan, Sink& out,
                       BuildSummary* summary, std::string* error);

// Both, into memory.
bool BuildPatch(FileSystem& oldTree, FileSystem& newTree, const BuildOptions& options, Buffer* out,
                BuildSummary* summary, std::string* error);

// Sets `*error` (when given) to `message` and returns false: how the builder's steps fail.
bool Fail(std::string* error, const std::string& message);

// Parses a decimal number, or a hexadecimal one after "0x", below 2^32.
bool ParseNumber(const std::string& text, uint32_t* out);

}  // namespace rtp
