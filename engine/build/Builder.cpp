#include "engine/build/Builder.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "engine/format/Delta.h"
#include "engine/build/TreeDelta.h"
#include "engine/apply/Errors.h"
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
// difference (files of other sizes are not read). A missing new name only gives the old file's size.
bool CompareFiles(FileSystem& oldTree, const std::string& oldName, FileSystem* newTree,
                  const std::string& newName, PatchEntry* entry, bool* same, std::string* error) {
  std::unique_ptr<Source> files[2];
  if (!OpenTreeFile(oldTree, oldName, &files[0], error)) return false;
  if (newTree && !OpenTreeFile(*newTree, newName, &files[1], error)) return false;
  entry->oldSize = static_cast<uint32_t>(files[0]->Size());
  if (newTree) entry->newSize = static_cast<uint32_t>(files[1]->Size());
  *same = newTree && files[0]->Size() == files[1]->Size();
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

bool ParseDelay(const std::string& text, uint32_t* out, std::string* error) {
  if (!ParseNumber(text, out)) return Fail(error, "not a number of milliseconds: \"" + text + "\"");
  if (*out > kMaxDelayMs) return Fail(error, "a delay is at most " + std::to_string(kMaxDelayMs) + " ms");
  return true;
}

PlannedEntry MakeNoticeEntry(const Notice& notice) {
  PlannedEntry planned;
  PatchEntry& entry = planned.entry;
  entry.op = Op::Notice;
  entry.noticeId = notice.id;
  entry.delayMs = notice.delayMs;
  switch (ParamKindOf(notice.id)) {
    case ParamKind::Text:
      entry.notice = notice.text;
      break;
    case ParamKind::Number:
      entry.notice.assign(4, '\0');
      WriteU32(reinterpret_cast<uint8_t*>(&entry.notice[0]), notice.number);
      break;
    case ParamKind::None:
      break;
  }
  return planned;
}

const char* const kWords[] = {
    "biggest",        "announce",        "delay-ms",        "file-delay",   "at",
    "notify-warning", "notify-warning2", "notify-warning4", "notify-error", "notify-error-text",
    "notify-detail",  "notify-locked",   "notify",          "pause",
};

}  // namespace

bool Fail(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

bool ParseNumber(const std::string& text, uint32_t* out) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const size_t start = hex ? 2 : 0;
  if (text.size() <= start) return false;
  uint64_t value = 0;
  for (size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFu) return false;
  }
  *out = static_cast<uint32_t>(value);
  return true;
}

bool Controls::IsWord(const std::string& word) {
  return std::find_if(std::begin(kWords), std::end(kWords), [&](const char* w) { return word == w; }) !=
         std::end(kWords);
}

bool Controls::AddNotice(uint8_t id, const std::string& argument, std::string* error) {
  PlacedNotice placed;
  placed.place = mPlace;
  placed.file = mPlaceFile;
  placed.notice.id = id;
  switch (ParamKindOf(id)) {
    case ParamKind::Text:
      if (argument.size() > kMaxNoticeText) return Fail(error, "notice text longer than 4096 bytes");
      if (argument.find('\0') != std::string::npos) return Fail(error, "notice text holds a zero byte");
      placed.notice.text = argument;
      break;
    case ParamKind::Number:
      if (!ParseNumber(argument, &placed.notice.number))
        return Fail(error, "id " + std::to_string(id) + " takes a number: \"" + argument + "\"");
      break;
    case ParamKind::None:
      if (!argument.empty()) return Fail(error, "id " + std::to_string(id) + " takes no argument");
      break;
  }
  mOptions.notices.push_back(placed);
  return true;
}

bool Controls::Add(const std::string& word, const std::string& argument, std::string* error) {
  uint32_t number = 0;
  if (word == "biggest") {
    if (!ParseNumber(argument, &number)) return Fail(error, "biggest takes a number of bytes");
    mOptions.flags |= kFlagBiggest;
    mOptions.biggest = number;
    return true;
  }
  if (word == "announce") {
    mOptions.flags &= ~(kFlagAnnounce | kFlagNoAnnounce);
    if (argument == "none") {
      mOptions.flags |= kFlagNoAnnounce;
      return true;
    }
    if (!ParseNumber(argument, &number)) return Fail(error, "announce takes a number or \"none\"");
    mOptions.flags |= kFlagAnnounce;
    mOptions.announced = number;
    return true;
  }
  if (word == "delay-ms") return ParseDelay(argument, &mOptions.fileDelayMs, error);
  if (word == "file-delay") {
    const size_t colon = argument.rfind(':');
    if (colon == std::string::npos || colon == 0) return Fail(error, "file-delay takes NAME:MS");
    if (!ParseDelay(argument.substr(colon + 1), &number, error)) return false;
    mOptions.fileDelays.emplace_back(argument.substr(0, colon), number);
    return true;
  }
  if (word == "at") {
    if (argument == "start" || argument == "end") {
      mPlace = argument == "start" ? Place::Start : Place::End;
      mPlaceFile.clear();
      return true;
    }
    const bool before = argument.compare(0, 7, "before:") == 0;
    const bool after = argument.compare(0, 6, "after:") == 0;
    if ((!before && !after) || argument.size() == (before ? 7u : 6u))
      return Fail(error, "at takes start, end, before:NAME or after:NAME");
    mPlace = before ? Place::Before : Place::After;
    mPlaceFile = argument.substr(before ? 7 : 6);
    return true;
  }
  if (word == "notify-warning") return AddNotice(kIdWarning, argument, error);
  if (word == "notify-warning2") return AddNotice(kIdWarning2, argument, error);
  if (word == "notify-warning4") return AddNotice(kIdWarning4, argument, error);
  if (word == "notify-error") {
    if (!ParseNumber(argument, &number)) return Fail(error, "notify-error takes an error number");
    return AddNotice(kIdError, ErrorText(number), error);
  }
  if (word == "notify-error-text") return AddNotice(kIdError, argument, error);
  if (word == "notify-detail") return AddNotice(kIdDetail, argument, error);
  if (word == "notify-locked") {
    if (argument != "26" && argument != "28") return Fail(error, "notify-locked takes 26 or 28");
    return AddNotice(static_cast<uint8_t>(argument == "26" ? kIdLockedReplace : kIdLockedDelete), "", error);
  }
  if (word == "notify") {
    const size_t colon = argument.find(':');
    if (!ParseNumber(argument.substr(0, colon), &number) || number == 0 || number > 255)
      return Fail(error, "notify takes ID[:ARG] with ID from 1 to 255");
    if (ParamKindOf(number) == ParamKind::None && colon != std::string::npos)
      return Fail(error, "id " + std::to_string(number) + " takes no argument");
    if (ParamKindOf(number) != ParamKind::None && colon == std::string::npos)
      return Fail(error, "id " + std::to_string(number) + " takes ID:ARG");
    return AddNotice(static_cast<uint8_t>(number),
                     colon == std::string::npos ? std::string() : argument.substr(colon + 1), error);
  }
  if (word == "pause") {
    if (!ParseDelay(argument, &number, error)) return false;
    if (!AddNotice(kIdHeartbeat, "", error)) return false;
    mOptions.notices.back().notice.delayMs = number;
    return true;
  }
  return Fail(error, "unknown control \"" + word + "\"");
}

bool Controls::AddRecipe(ByteView text, std::string* error) {
  const std::string all(reinterpret_cast<const char*>(text.data), text.size);
  size_t lineNumber = 0;
  for (size_t start = 0; start < all.size();) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    const size_t wordEnd = line.find_first_of(" \t", first);
    const std::string word =
        line.substr(first, wordEnd == std::string::npos ? std::string::npos : wordEnd - first);
    std::string argument;
    if (wordEnd != std::string::npos) {
      const size_t argStart = line.find_first_not_of(" \t", wordEnd);
      if (argStart != std::string::npos) argument = line.substr(argStart);
    }
    std::string why;
    if (!Add(word, argument, &why))
      return Fail(error, "recipe line " + std::to_string(lineNumber) + ": " + why);
  }
  return true;
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
  std::vector<PlannedEntry> files;
  for (const auto& item : oldNames) {
    if (newNames.count(item.first)) continue;
    PlannedEntry planned;
    planned.entry.op = Op::Delete;
    planned.entry.name = planned.oldName = item.second;
    bool same;
    if (!CompareFiles(oldTree, item.second, nullptr, std::string(), &planned.entry, &same, error))
      return false;
    files.push_back(planned);
    ++counts.deleted;
  }
  for (const auto& item : newNames) {
    PlannedEntry planned;
    planned.entry.name = planned.newName = item.second;
    const auto old = oldNames.find(item.first);
    if (old == oldNames.end()) {
      // Its size and CRC-32 are taken as it is copied into the patch.
      std::unique_ptr<Source> fresh;
      if (!OpenTreeFile(newTree, item.second, &fresh, error)) return false;
      planned.entry.op = Op::Add;
      files.push_back(planned);
      ++counts.added;
      continue;
    }
    bool same;
    if (!CompareFiles(oldTree, old->second, &newTree, item.second, &planned.entry, &same, error))
      return false;
    if (same) {
      ++counts.unchanged;
      continue;
    }
    planned.entry.op = Op::Delta;
    planned.oldName = old->second;
    files.push_back(planned);
  }

  const auto findFile = [&](const std::string& name) {
    const std::string folded = FoldName(name);
    return std::find_if(files.begin(), files.end(),
                        [&](const PlannedEntry& planned) { return FoldName(planned.entry.name) == folded; });
  };
  for (PlannedEntry& planned : files) planned.entry.delayMs = options.fileDelayMs;
  for (const auto& delay : options.fileDelays) {
    const auto file = findFile(delay.first);
    if (file == files.end()) return Fail(error, "file-delay names no file of the patch: " + delay.first);
    file->entry.delayMs = delay.second;
  }

  // Notices before file i go to before[i], after it to after[i]; the ones at the end to before[size].
  std::vector<std::vector<PlannedEntry>> before(files.size() + 1), after(files.size());
  for (const PlacedNotice& placed : options.notices) {
    PlannedEntry entry = MakeNoticeEntry(placed.notice);
    ++counts.notices;
    if (placed.place == Place::Start || placed.place == Place::End) {
      (placed.place == Place::Start ? before.front() : before.back()).push_back(entry);
      continue;
    }
    const auto file = findFile(placed.file);
    if (file == files.end()) return Fail(error, "\"at\" names no file of the patch: " + placed.file);
    const size_t index = static_cast<size_t>(file - files.begin());
    (placed.place == Place::Before ? before[index] : after[index]).push_back(entry);
  }
  for (size_t i = 0; i <= files.size(); ++i) {
    plan->entries.insert(plan->entries.end(), before[i].begin(), before[i].end());
    if (i == files.size()) break;
    plan->entries.push_back(files[i]);
    plan->entries.insert(plan->entries.end(), after[i].begin(), after[i].end());
  }
  plan->header.flags = options.flags;
  plan->header.biggest = options.biggest;
  plan->header.announced = options.announced;
  return true;
}

bool WritePlannedPatch(FileSystem& oldTree, FileSystem& newTree, const BuildPlan& plan, Sink& out,
                       BuildSummary* summary, std::string* error) {
  BuildSummary counts = plan.summary;
  PatchV2 patch;
  patch.header = plan.header;
  std::vector<uint8_t> streams[kStreamCount];
  if (!WriteTreeStreams(oldTree, newTree, plan, &patch, streams, &counts, error)) return false;
  if (!WritePatchV2(patch, streams, out, &counts.bytes)) return Fail(error, "cannot write the patch");
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
