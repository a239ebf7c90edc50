#pragma once
// What the engine's native tests share: client folders on disk written from and read back into maps,
// a listener that records every callback, and a file system that fails on request.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CallLog.h"
#include "engine/apply/Apply.h"
#include "engine/apply/Callbacks.h"
#include "engine/build/Builder.h"
#include "engine/format/PatchFormat.h"
#include "engine/fs/PosixFileSystem.h"

namespace enginetest {

namespace fs = std::filesystem;

// Patch name ("bin\zav.exe") to contents.
using Tree = std::map<std::string, std::string>;

inline std::string RandomBytes(uint32_t seed, size_t length) {
  std::mt19937 random(seed);
  std::string bytes(length, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

inline std::string HostName(const std::string& name) {
  std::string host = name;
  for (char& c : host)
    if (c == '\\') c = '/';
  return host;
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteTree(const fs::path& root, const Tree& tree) {
  fs::create_directories(root);
  for (const auto& file : tree) WriteBytes(root / HostName(file.first), file.second);
}

// Every file below root, by patch name.
inline Tree ReadTree(const fs::path& root) {
  Tree tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (!item.is_regular_file()) continue;
    std::string name = fs::relative(item.path(), root).generic_string();
    for (char& c : name)
      if (c == '/') c = '\\';
    tree[name] = ReadBytes(item.path());
  }
  return tree;
}

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "rtp-test-XXXXXX").string();
    if (::mkdtemp(&pattern[0])) mPath = pattern;
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ignored;
    if (!mPath.empty()) fs::remove_all(mPath, ignored);
  }
  const fs::path& path() const { return mPath; }

 private:
  fs::path mPath;
};

// Builds a patch between two trees written below `work`.
inline std::string BuildBetween(const fs::path& work, const Tree& before, const Tree& after,
                                const rtp::BuildOptions& options = rtp::BuildOptions()) {
  WriteTree(work / "old", before);
  WriteTree(work / "new", after);
  rtp::PosixFileSystem oldTree((work / "old").string());
  rtp::PosixFileSystem newTree((work / "new").string());
  rtp::Buffer patch;
  std::string error;
  EXPECT_TRUE(rtp::BuildPatch(oldTree, newTree, options, &patch, nullptr, &error)) << error;
  return std::string(reinterpret_cast<const char*>(patch.data()), patch.size());
}

inline rtp::ByteView View(const std::string& bytes) {
  return rtp::ByteView(bytes);
}

struct Call {
  uint32_t id = 0;
  bool hasParam = false;
  std::string text;     // ids with a text
  uint32_t number = 0;  // ids with a number
};

inline std::ostream& operator<<(std::ostream& out, const Call& call) {
  out << call.id;
  if (!call.hasParam) return out << " (null)";
  if (rtp::ParamKindOf(call.id) == rtp::ParamKind::Text) return out << " \"" << call.text << "\"";
  return out << " 0x" << std::hex << call.number << std::dec;
}

// Records every callback; answers "stop" at the `abortAt`-th (from 1), or when `hook` returns false.
class RecordingListener : public rtp::Listener, public CallLog<Call> {
 public:
  bool Notify(uint32_t id, void* param) override {
    Call call;
    call.id = id;
    call.hasParam = param != nullptr;
    if (param && rtp::ParamKindOf(id) == rtp::ParamKind::Text) call.text = static_cast<const char*>(param);
    if (param && rtp::ParamKindOf(id) == rtp::ParamKind::Number) call.number = *static_cast<uint32_t*>(param);
    calls.push_back(call);
    if (hook && !hook(call)) return false;
    return calls.size() != abortAt;
  }

  size_t abortAt = 0;
  std::function<bool(const Call&)> hook;
};

// Writes half of the first piece and fails, as a full disk would.
class HalfSink : public rtp::Sink {
 public:
  explicit HalfSink(std::unique_ptr<rtp::Sink> disk) : mDisk(std::move(disk)) {}
  bool WriteAt(uint64_t offset, rtp::ByteView bytes) override {
    mDisk->WriteAt(offset, rtp::ByteView(bytes.data, bytes.size / 2));
    return false;
  }
  bool Close() override { return mDisk->Close(); }

 private:
  std::unique_ptr<rtp::Sink> mDisk;
};

// A client folder on disk whose operations fail as told; sleeps are counted, not slept.
class FaultyFileSystem : public rtp::FileSystem {
 public:
  explicit FaultyFileSystem(const fs::path& root) : mDisk(root.string()) {}

  bool RootExists() override { return mDisk.RootExists(); }
  bool FreeSpace(uint64_t* bytes) override {
    if (freeBytes < 0) return false;
    *bytes = static_cast<uint64_t>(freeBytes);
    return true;
  }
  bool List(std::vector<std::string>* names) override { return mDisk.List(names); }
  bool ListNames(const std::string& folder, std::vector<std::string>* names) override {
    return mDisk.ListNames(folder, names);
  }
  rtp::FsStatus OpenRead(const std::string& name, std::unique_ptr<rtp::Source>* out) override {
    if (unreadable.count(name)) return rtp::FsStatus::Locked;
    return mDisk.OpenRead(name, out);
  }
  rtp::FsStatus Create(const std::string& name, std::unique_ptr<rtp::Sink>* out) override {
    if (Dead()) return rtp::FsStatus::Failed;
    if (locked.count(name)) return rtp::FsStatus::Locked;
    return Wrapped(mDisk.Create(name, out), out);
  }
  rtp::FsStatus CreateNew(const std::string& name, std::unique_ptr<rtp::Sink>* out) override {
    if (Dead()) return rtp::FsStatus::Failed;
    if (locked.count(name)) return rtp::FsStatus::Locked;
    return Wrapped(mDisk.CreateNew(name, out), out);
  }
  rtp::FsStatus Overwrite(const std::string& name, uint64_t size, std::unique_ptr<rtp::Sink>* out) override {
    if (Dead()) return rtp::FsStatus::Failed;
    if (locked.count(name)) return rtp::FsStatus::Locked;
    return Wrapped(mDisk.Overwrite(name, size, out), out);
  }
  rtp::FsStatus Replace(const std::string& from, const std::string& to) override {
    if (Dead()) return rtp::FsStatus::Failed;
    std::unique_ptr<rtp::Source> source;
    if (mDisk.OpenRead(from, &source) != rtp::FsStatus::Ok) return rtp::FsStatus::NotFound;
    if (locked.count(from) || locked.count(to)) return rtp::FsStatus::Locked;
    if (failReplace) return rtp::FsStatus::Failed;
    return mDisk.Replace(from, to);
  }
  rtp::FsStatus WriteDurable(const std::string& name, rtp::ByteView bytes) override {
    if (Dead()) return rtp::FsStatus::Failed;
    return mDisk.WriteDurable(name, bytes);
  }
  rtp::FsStatus ScheduleReplace(const std::string& from, const std::string& to) override {
    if (Dead() || failSchedule) return rtp::FsStatus::Failed;
    scheduled.push_back(from + " -> " + to);
    return rtp::FsStatus::Ok;
  }
  rtp::FsStatus Remove(const std::string& name) override {
    if (Dead()) return rtp::FsStatus::Failed;
    if (locked.count(name)) return rtp::FsStatus::Locked;
    return mDisk.Remove(name);
  }
  rtp::FsStatus ScheduleRemove(const std::string& name) override {
    if (Dead() || failSchedule) return rtp::FsStatus::Failed;
    scheduled.push_back("delete " + name);
    return rtp::FsStatus::Ok;
  }
  void RemoveEmptyFolders(const std::string& name) override {
    if (!Dead()) mDisk.RemoveEmptyFolders(name);
  }
  void Sleep(uint32_t ms) override {
    sleeps.push_back(ms);
    sleptMs += ms;
  }
  rtp::FsStatus SyncFolder(const std::string& name) override {
    return Dead() ? rtp::FsStatus::Failed : mDisk.SyncFolder(name);
  }
  bool CanSchedule() override { return !failSchedule; }

  // The free space the folder's volume reports; negative: it cannot be told.
  int64_t freeBytes = -1;
  std::set<std::string> locked;
  std::set<std::string> unreadable;
  bool failWrites = false;
  bool failReplace = false;
  bool failSchedule = false;
  std::vector<std::string> scheduled;
  std::vector<uint32_t> sleeps;
  uint32_t sleptMs = 0;
  // Changes to the folder so far; when stepsLeft reaches 0 the process is taken for killed: every later
  // change fails and changes nothing.
  int steps = 0;
  int stepsLeft = -1;

 private:
  // Each write is a step too, so that a run can be killed half-way through a file.
  class DyingSink : public rtp::Sink {
   public:
    DyingSink(FaultyFileSystem& fs, std::unique_ptr<rtp::Sink> disk) : mFs(fs), mDisk(std::move(disk)) {}
    bool WriteAt(uint64_t offset, rtp::ByteView bytes) override {
      return !mFs.Dead() && mDisk->WriteAt(offset, bytes);
    }
    bool Close() override { return mDisk->Close(); }
    bool Sync() override { return mDisk->Sync(); }

   private:
    FaultyFileSystem& mFs;
    std::unique_ptr<rtp::Sink> mDisk;
  };

  rtp::FsStatus Wrapped(rtp::FsStatus status, std::unique_ptr<rtp::Sink>* out) {
    if (status != rtp::FsStatus::Ok) return status;
    if (failWrites)
      *out = std::make_unique<HalfSink>(std::move(*out));
    else
      *out = std::make_unique<DyingSink>(*this, std::move(*out));
    return status;
  }

  bool Dead() {
    ++steps;
    if (stepsLeft < 0) return false;
    if (stepsLeft == 0) return true;
    --stepsLeft;
    return false;
  }

  rtp::PosixFileSystem mDisk;
};

}  // namespace enginetest
