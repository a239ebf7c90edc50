#pragma once
// Makes a patch from two folders: every file that was added, changed or removed between the old and the
// new folder gets one entry (deletions first, then the rest by kind: files of one extension and name in
// different folders next to each other); unchanged files get none. Names are matched ignoring case, as
// Windows does.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/fs/FileSystem.h"
#include "engine/format/PatchFormat.h"

namespace rtp {

// Told what the builder does: the phase, and how many of its bytes are done of how many.
using BuildProgress = std::function<void(const char* phase, uint64_t done, uint64_t total)>;

struct BuildOptions {
  BuildProgress progress;  // not told when empty
  uint64_t maxMemory = 0;  // bytes; 0: kDefaultBuildMemory
};

struct BuildSummary {
  uint32_t added = 0;
  uint32_t patched = 0;  // as a delta
  uint32_t deleted = 0;
  uint32_t unchanged = 0;
  uint64_t bytes = 0;  // of the patch written
};

// One file of the patch to be written, with its names in the two folders: an added file has no old
// name, a deleted one no new name.
struct PlannedFile {
  std::string name;  // as the patch names it: the new name, or the old one of a deleted file
  std::string oldName;
  std::string newName;
};

struct BuildPlan {
  // Deletions first, then the rest by kind: extension, then name without folder, then name (folded).
  std::vector<PlannedFile> files;
  std::vector<std::string> oldFiles;  // every file of the old folder, by kind: what files may copy from
  BuildSummary summary;               // all but the changed files, which are counted as they are written
  BuildProgress progress;
  uint64_t maxMemory = 0;
};

// Compares the two folders, reading their files in pieces, and decides every file; writes nothing.
// False with a message when a folder or file cannot be read or a name cannot go into a patch. Files may
// be of any size.
bool PlanPatch(FileSystem& oldTree, FileSystem& newTree, const BuildOptions& options, BuildPlan* plan,
               std::string* error);

// Writes the planned patch into `out`: the old folder's files are indexed together, so an added or changed
// file copies from whichever old file holds its bytes, within the memory the build may take (a tenth of it,
// at most kIndexBudget bytes; beyond that only the old versions of the changed files are indexed). A file
// larger than a twentieth of that memory, or whose old version is, is matched window by window against its
// old version alone, each window of old bytes following where the content went: time grows with the client's
// size, memory does not.
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

}  // namespace rtp
