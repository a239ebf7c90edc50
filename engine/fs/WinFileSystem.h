#pragma once
// A client folder on Windows (the engine library and the builder tool there). Patch names are UTF-8, the
// folder UTF-16; a path beyond MAX_PATH goes in the long form ("\\?\"). A file another program holds so that
// it cannot be replaced or deleted is Locked; replacing and deleting it can then be scheduled for the next
// restart (MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT, kept in the registry's PendingFileRenameOperations).
#include <windows.h>

#include <string>

#include "winbase/Handle.h"
#include "winbase/Text.h"
#include "engine/fs/FileSystem.h"

namespace rtp {

class WinFileSystem : public FileSystem {
 public:
  explicit WinFileSystem(std::wstring root);

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
  bool CanSchedule() override;
  FsStatus Remove(const std::string& name) override;
  FsStatus ScheduleRemove(const std::string& name) override;
  void RemoveEmptyFolders(const std::string& name) override;
  void Sleep(uint32_t ms) override;
  FsStatus SyncFolder(const std::string& name) override;
  FsStatus SyncScheduled() override;

  std::wstring PathOf(const std::string& name) const;

 private:
  // `size`, when given, is the length the file is made.
  FsStatus CreateAs(const std::string& name, DWORD disposition, std::unique_ptr<Sink>* out,
                    const uint64_t* size = nullptr);
  // `readable`: as ListReadable rather than List.
  bool ListFolder(const std::string& prefix, std::vector<std::string>* names, int depth, bool readable);

  std::wstring mRoot;
};

// A file to read (others may do what `share` allows meanwhile) or to write, in pieces.
FsStatus OpenFileForReading(const std::wstring& path, DWORD share, std::unique_ptr<Source>* out);
FsStatus CreateFileForWriting(const std::wstring& path, std::unique_ptr<Sink>* out);
// Reads a whole file; false when it cannot be opened or read, or memory runs out.
bool ReadWholeFile(const std::wstring& path, Buffer* out);
bool WriteWholeFile(const std::wstring& path, ByteView bytes);

}  // namespace rtp
