#include "engine/build/Builder.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>

#include "engine/build/TreeDelta.h"
#include "engine/format/PatchFormat.h"

namespace rtp {

namespace {

// Maps folded names to the names as listed; refuses names a patch cannot carry.
bool ListTree(FileSystem& tree, const char* which, std::map<std::string, std::string>* out,
              std::string* error) {
  std::vector<std::string> names;
  if (!tree.List(&names)) return Fail(error, std::string("cannot list the ") + which + " folder");
  for (const std::string& name : names) {
    if (!IsValidName(name))
      return Fail(error, std::string("file name not allowed in a patch (") + which + " folder): " + name);
    if (!out->emplace(FoldName(name), name).second)
      return Fail(error, std::string("two files differ only in case (") + which + " folder): " + name);
  }
  return true;
}

bool OpenTreeFile(FileSystem& tree, const std::string& name, std::unique_ptr<Source>* out,
                  std::string* error) {
  const FsStatus status = tree.OpenRead(name, out);
  if (status == FsStatus::NoMemory) return Fail(error, "out of memory reading " + name);
  if (status != FsStatus::Ok) return Fail(error, "cannot read " + name);
  return true;
}

// Whether an old and a new file hold the same bytes, read side by side in pieces up to the first
// difference (files of other sizes are not read).
bool CompareFiles(FileSystem& oldTree, const std::string& oldName, FileSystem& newTree,
                  const std::string& newName, bool* same, std::string* error) {
  std::unique_ptr<Source> files[2];
  if (!OpenTreeFile(oldTree, oldName, &files[0], error) || !OpenTreeFile(newTree, newName, &files[1], error))
    return false;
  *same = files[0]->Size() == files[1]->Size();
  if (!*same) return true;
  const char* const names[2] = {oldName.c_str(), newName.c_str()};
  std::unique_ptr<StreamReader> readers[2];
  for (size_t i = 0; i < 2; ++i) {
    readers[i].reset(new (std::nothrow) StreamReader(*files[i], 0, files[i]->Size()));
    if (!readers[i] || !readers[i]->Ok())
      return Fail(error, std::string("out of memory reading ") + names[i]);
  }
  // Readers of equal ranges hand out pieces of equal lengths.
  while (*same && readers[0]->Remaining()) {
    ByteView pieces[2];
    for (size_t i = 0; i < 2; ++i)
      if (!readers[i]->Take(kChunkSize, &pieces[i]))
        return Fail(error, std::string("cannot read ") + names[i]);
    *same =
        pieces[0].size == pieces[1].size && std::memcmp(pieces[0].data, pieces[1].data, pieces[0].size) == 0;
  }
  return true;
}

// Names by hash every old file of the patch whose name's hash no other old file, nor a file the patch
// adds, shares, in the fewest bytes that no other such name shares.
void NameByHash(const BuildPlan& plan, Patch* patch) {
  std::unordered_map<uint64_t, int> owners[kNameHashBytes + 1];  // per hash length
  const auto own = [&](const std::string& name) {
    const uint64_t hash = NameHash(name);
    for (int bytes = kShortestNameHash; bytes <= kNameHashBytes; ++bytes)
      ++owners[bytes][LowBytes(hash, bytes)];
  };
  for (const std::string& name : plan.oldFiles) own(name);
  for (const PlannedFile& file : plan.files)
    if (file.oldName.empty()) own(file.newName);
  for (SourceFile& source : patch->sources) {
    for (int bytes = kShortestNameHash; bytes <= kNameHashBytes && !source.byHash; ++bytes) {
      source.nameHash = NameHash(source.name, bytes);
      source.hashBytes = bytes;
      source.byHash = owners[bytes][source.nameHash] == 1;
    }
  }
}

// Files of one kind and name in different folders (the same image at several sizes, one table in
// several languages) tend to resemble each other: ordered by folded extension, then by the name without
// its folder, then by the whole name, they follow one another in the streams and the coder sees one
// while coding the other.
std::string KindOrderKey(const std::string& name) {
  const std::string folded = FoldName(name);
  const size_t slash = folded.find_last_of("\\/");
  const std::string base = slash == std::string::npos ? folded : folded.substr(slash + 1);
  const size_t dot = base.rfind('.');
  const std::string extension = dot == std::string::npos ? std::string() : base.substr(dot + 1);
  return extension + '\0' + base + '\0' + folded;
}

template <typename T, typename NameOf>
void OrderByKind(std::vector<T>* items, NameOf nameOf) {
  std::vector<std::pair<std::string, T>> keyed;
  keyed.reserve(items->size());
  for (T& item : *items) keyed.emplace_back(KindOrderKey(nameOf(item)), std::move(item));
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const std::pair<std::string, T>& a, const std::pair<std::string, T>& b) {
                     return a.first < b.first;
                   });
  for (size_t i = 0; i < keyed.size(); ++i) (*items)[i] = std::move(keyed[i].second);
}

}  // namespace

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

bool PlanPatch(FileSystem& oldTree, FileSystem& newTree, const BuildOptions& options, BuildPlan* plan,
               std::string* error) {
  *plan = BuildPlan();
  plan->progress = options.progress;
  plan->maxMemory = options.maxMemory;
  BuildSummary& counts = plan->summary;
  std::map<std::string, std::string> oldNames, newNames;
  if (!ListTree(oldTree, "old", &oldNames, error) || !ListTree(newTree, "new", &newNames, error))
    return false;

  for (const auto& item : oldNames) plan->oldFiles.push_back(item.second);
  for (const auto& item : oldNames) {
    if (newNames.count(item.first)) continue;
    // Its size is taken as the patch is written; it must be readable now.
    std::unique_ptr<Source> gone;
    if (!OpenTreeFile(oldTree, item.second, &gone, error)) return false;
    plan->files.push_back({item.second, item.second, std::string()});
    ++counts.deleted;
  }
  for (const auto& item : newNames) {
    const auto old = oldNames.find(item.first);
    if (old == oldNames.end()) {
      // Its size and CRC-32C are taken as it is written into the patch.
      std::unique_ptr<Source> fresh;
      if (!OpenTreeFile(newTree, item.second, &fresh, error)) return false;
      plan->files.push_back({item.second, std::string(), item.second});
      ++counts.added;
      continue;
    }
    bool same;
    if (!CompareFiles(oldTree, old->second, newTree, item.second, &same, error)) return false;
    if (same) {
      ++counts.unchanged;
      continue;
    }
    plan->files.push_back({item.second, old->second, item.second});
  }
  OrderByKind(&plan->oldFiles, [](const std::string& name) { return name; });
  std::vector<PlannedFile> written(plan->files.begin() + counts.deleted, plan->files.end());
  OrderByKind(&written, [](const PlannedFile& file) { return file.name; });
  std::move(written.begin(), written.end(), plan->files.begin() + counts.deleted);
  return true;
}

bool WritePlannedPatch(FileSystem& oldTree, FileSystem& newTree, const BuildPlan& plan, Sink& out,
                       BuildSummary* summary, std::string* error) {
  BuildSummary counts = plan.summary;
  Patch patch;
  std::vector<uint8_t> streams[kStreamCount], offered[kStreamCount];
  if (!WriteTreeStreams(oldTree, newTree, plan, &patch, streams, offered, &counts, error)) return false;
  NameByHash(plan, &patch);
  if (!WritePatch(patch, streams, offered, out, &counts.bytes)) return Fail(error, "cannot write the patch");
  if (summary) *summary = counts;
  return true;
}

bool BuildPatch(FileSystem& oldTree, FileSystem& newTree, const BuildOptions& options, Buffer* out,
                BuildSummary* summary, std::string* error) {
  BuildPlan plan;
  MemorySink sink;
  return PlanPatch(oldTree, newTree, options, &plan, error) &&
         WritePlannedPatch(oldTree, newTree, plan, sink, summary, error) &&
         (out->Assign(ByteView(sink.bytes)) || Fail(error, "out of memory writing the patch"));
}

}  // namespace rtp
