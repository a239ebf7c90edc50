#pragma once
// A client folder on a POSIX system (the native tree: tests and the builder tool). Nothing is ever
// locked here, and nothing can be scheduled for a restart.
#include <string>

#include "engine/fs/FileSystem.h"

namespace rtp {

// Files synced at once: fsyncs of small files overlap almost wholly.
constexpr unsigned kSyncThreads = 4;

class PosixFileSystem : public FileSystem {
 public:
  explicit PosixFileSystem(std::string root) : FileSystem(kSyncThreads), mRoot(std::move(root)) {}

  bool RootExists() override;
  bool FreeSpace(uint64_t* bytes) override;
  bool List(std::vector<std::string>* names) override;
  bool ListReadable(std::vector<std::string>* names) override;
  bool ListNames(const std::string& folder, std::vector<std::string>* names) override;
  FsStatus OpenRead(const std::string& name, std::unique_ptr<Source>* out) override;
  FsStatus Create(const std::string& name, std::unique_ptr<Sink>* out) override;
  FsStatus CreateNew(const std::string& name, std::unique_ptr<Sink>* out) override;
  FsStatus Overwrite(const std::string& name, uint64_t size, std::unique_ptr<Sink>* out) override;
  FsStatus WriteDurable(const std::string& name, ByteView bytes) override;
  FsStatus Replace(const std::string& from, const std::string& to) override;
  FsStatus ScheduleReplace(const std::string& from, const std::string& to) override;
  bool CanSchedule() override { return false; }
  FsStatus Remove(const std::string& name) override;
  FsStatus ScheduleRemove(const std::string& name) override;
  void RemoveEmptyFolders(const std::string& name) override;
  void Sleep(uint32_t ms) override;
  FsStatus SyncFolder(const std::string& name) override;

  // The host path of a patch name.
  std::string PathOf(const std::string& name) const;

 private:
  // `size`, when given, is the length the file is made.
  FsStatus CreateAs(const std::string& name, int mode, std::unique_ptr<Sink>* out,
                    const uint64_t* size = nullptr);
  // `readable`: as ListReadable rather than List.
  bool ListFolder(const std::string& prefix, std::vector<std::string>* names, int depth, bool readable);

  std::string mRoot;
};

// A host file to read or write in pieces.
FsStatus OpenHostFile(const std::string& path, std::unique_ptr<Source>* out);
FsStatus CreateHostFile(const std::string& path, std::unique_ptr<Sink>* out);
// Reads a whole host file; false when it cannot be opened or read, or memory runs out.
bool ReadHostFile(const std::string& path, Buffer* out);
// Writes a whole host file.
bool WriteHostFile(const std::string& path, ByteView bytes);

}  // namespace rtp
