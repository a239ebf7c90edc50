#pragma once
// What the patch fuzzers share: a client folder in memory and a listener that answers every callback.
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/apply/Apply.h"
#include "engine/apply/Callbacks.h"
#include "engine/format/PatchFormat.h"

namespace fuzzsupport {

// Writes one file of the folder in memory; it starts out empty.
class FileSink : public rtp::Sink {
 public:
  explicit FileSink(std::string* file) : mFile(file) { mFile->clear(); }
  bool WriteAt(uint64_t offset, rtp::ByteView bytes) override {
    if (offset + bytes.size > mFile->size()) mFile->resize(offset + bytes.size);
    if (bytes.size) std::memcpy(&(*mFile)[offset], bytes.data, bytes.size);
    return true;
  }
  bool Close() override { return true; }

 private:
  std::string* mFile;
};

// A client folder in memory holding the old files a patch names (zero bytes of the expected size, so
// delta copies find data), nothing slept.
class MemoryFileSystem : public rtp::FileSystem {
 public:
  bool RootExists() override { return true; }
  bool FreeSpace(uint64_t*) override { return false; }
  bool List(std::vector<std::string>* names) override {
    names->clear();
    for (const auto& file : mFiles) names->push_back(file.first);
    return true;
  }
  bool ListNames(const std::string& folder, std::vector<std::string>* names) override {
    names->clear();
    const std::string prefix = folder.empty() ? "" : folder + "\\";
    for (const auto& file : mFiles)
      if (file.first.compare(0, prefix.size(), prefix) == 0)
        names->push_back(file.first.substr(prefix.size()));
    return true;
  }
  rtp::FsStatus OpenRead(const std::string& name, std::unique_ptr<rtp::Source>* out) override {
    const auto file = mFiles.find(name);
    if (file == mFiles.end()) return rtp::FsStatus::NotFound;
    *out = std::make_unique<rtp::MemorySource>(rtp::ByteView(file->second));
    return rtp::FsStatus::Ok;
  }
  rtp::FsStatus Create(const std::string& name, std::unique_ptr<rtp::Sink>* out) override {
    *out = std::make_unique<FileSink>(&mFiles[name]);
    return rtp::FsStatus::Ok;
  }
  rtp::FsStatus Overwrite(const std::string& name, uint64_t size, std::unique_ptr<rtp::Sink>* out) override {
    const rtp::FsStatus created = Create(name, out);
    mFiles[name].resize(static_cast<size_t>(size));
    return created;
  }
  rtp::FsStatus CreateNew(const std::string& name, std::unique_ptr<rtp::Sink>* out) override {
    return mFiles.count(name) ? rtp::FsStatus::Exists : Create(name, out);
  }
  rtp::FsStatus Replace(const std::string& from, const std::string& to) override {
    const auto file = mFiles.find(from);
    if (file == mFiles.end()) return rtp::FsStatus::NotFound;
    if (to.size() % 3 == 0) return rtp::FsStatus::Locked;  // some files are "in use"
    mFiles[to] = file->second;
    mFiles.erase(from);
    return rtp::FsStatus::Ok;
  }
  rtp::FsStatus ScheduleReplace(const std::string&, const std::string&) override { return rtp::FsStatus::Ok; }
  rtp::FsStatus Remove(const std::string& name) override {
    return mFiles.erase(name) ? rtp::FsStatus::Ok : rtp::FsStatus::NotFound;
  }
  rtp::FsStatus ScheduleRemove(const std::string&) override { return rtp::FsStatus::Ok; }
  void RemoveEmptyFolders(const std::string&) override {}
  void Sleep(uint32_t) override {}
  rtp::FsStatus SyncFolder(const std::string&) override { return rtp::FsStatus::Ok; }
  bool CanSchedule() override { return true; }

  void Put(const std::string& name, std::string bytes) { mFiles[name] = std::move(bytes); }

 private:
  std::map<std::string, std::string> mFiles;
};

class CountingListener : public rtp::Listener {
 public:
  bool Notify(uint32_t id, void* param) override {
    if (param && rtp::ParamKindOf(id) == rtp::ParamKind::Text)
      mSum += std::strlen(static_cast<const char*>(param));
    if (param && rtp::ParamKindOf(id) == rtp::ParamKind::Number) mSum += *static_cast<uint32_t*>(param);
    return ++mCount < 5000;
  }

 private:
  size_t mCount = 0;
  size_t mSum = 0;
};

}  // namespace fuzzsupport
