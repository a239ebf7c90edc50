// Fuzzes the engine's reading of a patch file and everything that follows from it: the parser, the cost,
// and a whole run against an in-memory client folder. Inputs that look like a patch get their size and
// checksum fields made right first, so the fuzzer reaches the entries instead of stopping at the CRC-32.
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "patchengine/Apply.h"
#include "patchengine/Builder.h"
#include "patchengine/EngineCommandLine.h"
#include "patchengine/PatchFormat.h"

namespace {

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
  bool List(std::vector<std::string>* names) override {
    names->clear();
    for (const auto& file : mFiles) names->push_back(file.first);
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  if (size >= rtp::kHeaderSize && std::memcmp(data, rtp::kMagic, sizeof rtp::kMagic) == 0) {
    rtp::WriteU32(&bytes[28], static_cast<uint32_t>(size - rtp::kHeaderSize));
    rtp::WriteU32(&bytes[32],
                  rtp::Crc32(rtp::ByteView(bytes.data() + rtp::kHeaderSize, size - rtp::kHeaderSize)));
    rtp::WriteU32(&bytes[36], rtp::Crc32(rtp::ByteView(bytes.data(), 36)));
  }
  const rtp::ByteView view(bytes.data(), bytes.size());

  rtp::Patch patch;
  rtp::FormatError error;
  if (rtp::ParsePatch(view, &patch, &error)) {
    rtp::ComputeCost(patch);
    MemoryFileSystem client;
    size_t planted = 0;
    for (const rtp::PatchEntry& entry : patch.entries) {
      // Old files as the patch expects them only where that is cheap; the others differ or are missing.
      if (!entry.IsFile() || entry.op == rtp::Op::Add || entry.oldSize > (1u << 16)) continue;
      if (++planted % 4 != 0) client.Put(entry.name, std::string(entry.oldSize, '\0'));
    }
    CountingListener listener;
    rtp::ApplyPatch(view, client, listener);
  }

  // The same bytes as an engine command line and as a recipe of test controls.
  std::string text(reinterpret_cast<const char*>(data), size);
  rtp::EngineCommand command;
  rtp::ParseEngineCommandLine(text.c_str(), &command);
  rtp::Controls controls;
  std::string why;
  controls.AddRecipe(rtp::ByteView(text), &why);
  return 0;
}
