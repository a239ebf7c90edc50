#pragma once
// A client folder in memory that knows what is only in the system's cache, so that the power can be cut
// at any step of a run. What survives follows the model in engine/fs/FileSystem.h: synced data survives;
// each unsynced write is kept, dropped or torn at 512-byte blocks; changes of names and lengths survive
// in order up to any point after the last SyncFolder; records scheduled for the restart likewise after the
// last SyncScheduled. A power cut is a restart: the system then carries out what survived of those.
#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "EngineTestSupport.h"

namespace enginetest {

class PowerCutFileSystem : public rtp::FileSystem {
 public:
  // A program holding a file: a running one lets it be renamed, not written or deleted; a file held open
  // can be neither renamed nor written nor deleted. Reading is always allowed.
  enum class Lock { None, Running, Held };

  // Starts with `tree` on the disk.
  explicit PowerCutFileSystem(const Tree& tree) {
    for (const auto& file : tree) {
      mNames[file.first] = mDurableNames[file.first] = mFiles.size();
      mFiles.push_back({file.second, file.second, file.second.size(), {}, Lock::None});
    }
  }
  void LockFile(const std::string& name, Lock lock) { mFiles[mNames.at(name)].lock = lock; }

  // Changes made so far (writes, syncs, names); from the `cutAt`-th on (0 first) the power is gone and
  // every change fails.
  int steps = 0;
  int cutAt = -1;

  // What the running system sees.
  Tree Current() const {
    Tree tree;
    for (const auto& name : mNames) tree[name.first] = mFiles[name.second].current;
    return tree;
  }

  // What the disk holds after an orderly restart: everything written, then what was scheduled done.
  Tree AfterRestart() const {
    Tree tree = Current();
    Restart(mScheduled.size(), &tree);
    return tree;
  }

  // What the disk holds once the power is back and the restart has carried out what it had scheduled,
  // as `seed` chooses among what the model allows: seeds 0 to 7 keep all or none of what was not on the
  // disk of each kind (names, data, records for the restart: one bit each), the others choose at random.
  Tree AfterPowerCut(uint32_t seed) const {
    Chance random(seed);
    std::map<std::string, size_t> names = mDurableNames;
    std::vector<uint64_t> sizes;
    for (const File& file : mFiles) sizes.push_back(file.durableSize);
    const size_t kept = random.Below(mUnsyncedNames.size() + 1, Chance::kNames);
    for (size_t i = 0; i < kept; ++i) Apply(mUnsyncedNames[i], &names, &sizes);
    Tree tree;
    for (const auto& name : names) tree[name.first] = Survivor(name.second, sizes[name.second], random);
    Restart(mDurableScheduled + random.Below(mScheduled.size() - mDurableScheduled + 1, Chance::kRecords),
            &tree);
    return tree;
  }

  bool RootExists() override { return true; }
  bool FreeSpace(uint64_t*) override { return false; }
  bool List(std::vector<std::string>* names) override {
    names->clear();
    for (const auto& name : mNames) names->push_back(name.first);
    return true;
  }
  bool ListNames(const std::string& folder, std::vector<std::string>* names) override {
    names->clear();
    const std::string prefix = folder.empty() ? "" : folder + "\\";
    for (const auto& name : mNames) {
      if (name.first.compare(0, prefix.size(), prefix) != 0) continue;
      const std::string leaf =
          name.first.substr(prefix.size(), name.first.find('\\', prefix.size()) - prefix.size());
      if (names->empty() || names->back() != leaf) names->push_back(leaf);
    }
    return true;
  }
  rtp::FsStatus OpenRead(const std::string& name, std::unique_ptr<rtp::Source>* out) override {
    const auto found = mNames.find(name);
    if (found == mNames.end()) return rtp::FsStatus::NotFound;
    *out = std::make_unique<Snapshot>(mFiles[found->second].current);
    return rtp::FsStatus::Ok;
  }
  rtp::FsStatus Create(const std::string& name, std::unique_ptr<rtp::Sink>* out) override {
    return Open(name, false, 0, out);
  }
  rtp::FsStatus CreateNew(const std::string& name, std::unique_ptr<rtp::Sink>* out) override {
    if (mNames.count(name)) return rtp::FsStatus::Exists;
    return Open(name, false, 0, out);
  }
  rtp::FsStatus Overwrite(const std::string& name, uint64_t size, std::unique_ptr<rtp::Sink>* out) override {
    return Open(name, true, size, out);
  }
  rtp::FsStatus WriteDurable(const std::string& name, rtp::ByteView bytes) override {
    std::unique_ptr<rtp::Sink> sink;
    const rtp::FsStatus created = Create(name, &sink);
    if (created != rtp::FsStatus::Ok) return created;
    return sink->WriteAt(0, bytes) && sink->Sync() ? rtp::FsStatus::Ok : rtp::FsStatus::Failed;
  }
  rtp::FsStatus Replace(const std::string& from, const std::string& to) override {
    const auto source = mNames.find(from);
    if (source == mNames.end()) return rtp::FsStatus::NotFound;
    const auto target = mNames.find(to);
    if (mFiles[source->second].lock == Lock::Held || (target != mNames.end() && Locked(to)))
      return rtp::FsStatus::Locked;
    if (PowerIsOut()) return rtp::FsStatus::Failed;
    Change(NameChange{from, to, source->second, 0});
    return rtp::FsStatus::Ok;
  }
  rtp::FsStatus Remove(const std::string& name) override {
    const auto found = mNames.find(name);
    if (found == mNames.end()) return rtp::FsStatus::NotFound;
    if (Locked(name)) return rtp::FsStatus::Locked;
    if (PowerIsOut()) return rtp::FsStatus::Failed;
    Change(NameChange{name, "", found->second, 0});
    return rtp::FsStatus::Ok;
  }
  rtp::FsStatus ScheduleReplace(const std::string& from, const std::string& to) override {
    return Schedule(from, to);
  }
  rtp::FsStatus ScheduleRemove(const std::string& name) override { return Schedule(name, ""); }
  bool CanSchedule() override { return true; }
  rtp::FsStatus SyncScheduled() override {
    if (PowerIsOut()) return rtp::FsStatus::Failed;
    mDurableScheduled = mScheduled.size();
    return rtp::FsStatus::Ok;
  }
  rtp::FsStatus SyncFolder(const std::string&) override {
    if (PowerIsOut()) return rtp::FsStatus::Failed;
    std::vector<uint64_t> sizes;
    for (const File& file : mFiles) sizes.push_back(file.durableSize);
    for (const NameChange& change : mUnsyncedNames) Apply(change, &mDurableNames, &sizes);
    for (size_t i = 0; i < mFiles.size(); ++i) mFiles[i].durableSize = sizes[i];
    mUnsyncedNames.clear();
    return rtp::FsStatus::Ok;
  }
  void RemoveEmptyFolders(const std::string&) override {}
  void Sleep(uint32_t) override {}

 private:
  // The choices of one power cut, each a number below `count` about one kind of what was not on the disk:
  // for seeds 0 to 7 the least (none of it survives) or the most (all does) as the kind's bit of the seed
  // says, at random for the others.
  class Chance {
   public:
    enum Kind { kNames = 1, kData = 2, kRecords = 4 };
    explicit Chance(uint32_t seed) : mSeed(seed), mRandom(seed) {}
    size_t Below(size_t count, Kind kind) {
      if (mSeed < 8) return (mSeed & kind) ? count - 1 : 0;
      return mRandom() % count;
    }

   private:
    uint32_t mSeed;
    std::mt19937 mRandom;
  };

  struct Write {
    uint64_t at;
    std::string bytes;
  };
  struct File {
    std::string durable;  // what a sync put on the disk
    std::string current;
    uint64_t durableSize;
    std::vector<Write> unsynced;
    Lock lock;
  };
  // A name made to refer to a file (`from` empty), renamed, or removed (`to` empty); or with both empty, a
  // file's new length.
  struct NameChange {
    std::string from, to;
    size_t file;
    uint64_t size;
  };

  class Snapshot : public rtp::Source {
   public:
    explicit Snapshot(std::string bytes) : mBytes(std::move(bytes)) {}
    uint64_t Size() override { return mBytes.size(); }
    bool ReadAt(uint64_t offset, uint8_t* out, size_t length) override {
      if (offset > mBytes.size() || length > mBytes.size() - offset) return false;
      std::memcpy(out, mBytes.data() + offset, length);
      return true;
    }

   private:
    std::string mBytes;
  };

  class FileSink : public rtp::Sink {
   public:
    FileSink(PowerCutFileSystem& fs, size_t file) : mFs(fs), mFile(file) {}
    bool WriteAt(uint64_t offset, rtp::ByteView bytes) override {
      if (mFs.PowerIsOut()) return false;
      File& file = mFs.mFiles[mFile];
      const std::string piece(reinterpret_cast<const char*>(bytes.data), bytes.size);
      if (offset + bytes.size > file.current.size()) {
        file.current.resize(offset + bytes.size);
        mFs.mUnsyncedNames.push_back(NameChange{"", "", mFile, file.current.size()});
      }
      file.current.replace(offset, bytes.size, piece);
      file.unsynced.push_back({offset, piece});
      return true;
    }
    bool Sync() override {
      if (mFs.PowerIsOut()) return false;
      File& file = mFs.mFiles[mFile];
      file.durable = file.current;
      file.durableSize = file.current.size();
      file.unsynced.clear();
      // Its length is on the disk now: no older one may come back.
      auto& changes = mFs.mUnsyncedNames;
      changes.erase(std::remove_if(changes.begin(), changes.end(),
                                   [&](const NameChange& c) {
                                     return c.from.empty() && c.to.empty() && c.file == mFile;
                                   }),
                    changes.end());
      return true;
    }
    bool Close() override { return true; }

   private:
    PowerCutFileSystem& mFs;
    size_t mFile;
  };

  bool PowerIsOut() { return ++steps > cutAt && cutAt >= 0; }
  bool Locked(const std::string& name) const {
    const auto found = mNames.find(name);
    return found != mNames.end() && mFiles[found->second].lock != Lock::None;
  }

  // Opens a file for writing: cut to nothing, or (`keep`) made `size` bytes long.
  rtp::FsStatus Open(const std::string& name, bool keep, uint64_t size, std::unique_ptr<rtp::Sink>* out) {
    if (Locked(name)) return rtp::FsStatus::Locked;
    if (PowerIsOut()) return rtp::FsStatus::Failed;
    auto found = mNames.find(name);
    if (found == mNames.end()) {
      mFiles.push_back({"", "", 0, {}, Lock::None});
      Change(NameChange{"", name, mFiles.size() - 1, 0});
      found = mNames.find(name);
    }
    File& file = mFiles[found->second];
    if (!keep) size = 0;
    if (file.current.size() != size) {
      file.current.resize(size);
      mUnsyncedNames.push_back(NameChange{"", "", found->second, size});
    }
    *out = std::make_unique<FileSink>(*this, found->second);
    return rtp::FsStatus::Ok;
  }

  // The restart carries out the first `count` scheduled replacements and deletions.
  void Restart(size_t count, Tree* tree) const {
    for (size_t i = 0; i < count; ++i) {
      const auto from = tree->find(mScheduled[i].first);
      if (from == tree->end()) continue;
      if (!mScheduled[i].second.empty()) (*tree)[mScheduled[i].second] = from->second;
      tree->erase(mScheduled[i].first);
    }
  }

  rtp::FsStatus Schedule(const std::string& from, const std::string& to) {
    if (PowerIsOut()) return rtp::FsStatus::Failed;
    mScheduled.emplace_back(from, to);
    return rtp::FsStatus::Ok;
  }

  void Change(const NameChange& change) {
    std::vector<uint64_t> ignored(mFiles.size());
    Apply(change, &mNames, &ignored);
    mUnsyncedNames.push_back(change);
  }

  static void Apply(const NameChange& change, std::map<std::string, size_t>* names,
                    std::vector<uint64_t>* sizes) {
    if (change.from.empty() && change.to.empty()) {
      (*sizes)[change.file] = change.size;
      return;
    }
    if (!change.from.empty()) names->erase(change.from);
    if (!change.to.empty()) (*names)[change.to] = change.file;
  }

  // A file's bytes after the cut: its synced bytes, what survives of each later write, and its length.
  std::string Survivor(size_t index, uint64_t size, Chance& random) const {
    const File& file = mFiles[index];
    std::string bytes = file.durable;
    for (const Write& write : file.unsynced) {
      const size_t fate = random.Below(3, Chance::kData);  // dropped, torn, kept
      for (uint64_t at = write.at; at < write.at + write.bytes.size(); at = (at / 512 + 1) * 512) {
        const uint64_t end = std::min<uint64_t>((at / 512 + 1) * 512, write.at + write.bytes.size());
        if (fate == 0 || (fate == 1 && random.Below(2, Chance::kData) == 0)) continue;
        if (bytes.size() < end) bytes.resize(end);
        bytes.replace(at, end - at, write.bytes, at - write.at, end - at);
      }
    }
    bytes.resize(size);
    return bytes;
  }

  std::vector<File> mFiles;
  std::map<std::string, size_t> mNames;
  std::map<std::string, size_t> mDurableNames;
  std::vector<NameChange> mUnsyncedNames;
  std::vector<std::pair<std::string, std::string>> mScheduled;
  size_t mDurableScheduled = 0;
};

}  // namespace enginetest
