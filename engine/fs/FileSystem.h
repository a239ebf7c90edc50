#pragma once
// The client folder as the engine sees it. Names are patch names: relative to the folder, '\' between
// folders, UTF-8. Each platform supplies one (POSIX natively, Win32 in the engine library); tests supply
// their own to provoke what a real disk rarely does.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/base/Stream.h"
#include "engine/fs/SyncQueue.h"

namespace rtp {

enum class FsStatus {
  Ok,
  NotFound,  // no such file (or it is a folder)
  Locked,    // another program holds the file so that it cannot be read, replaced or deleted now
  Exists,    // a file that was to be new is there already
  NoMemory,
  Failed,
};

// What survives a power cut, taken conservatively (the commit journal relies on nothing more): data a
// sink has synced survives; data not yet synced may be lost, kept, or torn at any block. Changes of
// names (a file created, renamed or removed, a new length) survive in the order they were made, and any
// of them after the last SyncFolder may be lost.
class FileSystem {
 public:
  // `syncThreads`: the workers that sync files given to SyncLater (none: each is synced at once).
  explicit FileSystem(unsigned syncThreads = 0) : mSyncs(syncThreads) {}
  virtual ~FileSystem() = default;

  // True when the folder itself exists.
  virtual bool RootExists() = 0;
  // The bytes this program may still write on the folder's volume; false when that cannot be told.
  virtual bool FreeSpace(uint64_t* bytes) = 0;
  // Every file below the folder (not folders), in any order.
  virtual bool List(std::vector<std::string>* names) = 0;
  // As List, for a client a player keeps: links to folders are not followed, and what cannot be read or
  // named is left out, so one odd folder does not stop a run; false only when the folder itself cannot
  // be read.
  virtual bool ListReadable(std::vector<std::string>* names) { return List(names); }
  // The names of the files and folders right in `folder` ("" for the client folder itself), in any
  // order; a folder that is not there has none. False when it cannot be read.
  virtual bool ListNames(const std::string& folder, std::vector<std::string>* names) = 0;
  // Opens the file to be read in pieces; others may go on reading and writing it meanwhile. Two threads may
  // open files at once (the builder matches two new files at a time).
  virtual FsStatus OpenRead(const std::string& name, std::unique_ptr<Source>* out) = 0;
  // The size of a file that can be opened to be read.
  bool SizeOf(const std::string& name, uint64_t* size) {
    std::unique_ptr<Source> file;
    if (OpenRead(name, &file) != FsStatus::Ok) return false;
    *size = file->Size();
    return true;
  }
  // Creates or truncates the file to be written in pieces, creating missing folders on its way; Locked
  // when another program holds it.
  virtual FsStatus Create(const std::string& name, std::unique_ptr<Sink>* out) = 0;
  // As Create, for a file that must not exist yet: Exists when one does, and it is left as it was.
  virtual FsStatus CreateNew(const std::string& name, std::unique_ptr<Sink>* out) = 0;
  // As Create, for a file to be written over from its start: it is not cut first but made `size` bytes
  // long, so that it keeps the disk space it has (cutting and growing it again frees and allocates it).
  virtual FsStatus Overwrite(const std::string& name, uint64_t size, std::unique_ptr<Sink>* out) = 0;
  // Writes a small file whole and returns once it is on the disk, not only in the system's cache.
  virtual FsStatus WriteDurable(const std::string& name, ByteView bytes) {
    std::unique_ptr<Sink> sink;
    const FsStatus created = Create(name, &sink);
    if (created != FsStatus::Ok) return created;
    const bool written = sink->WriteAt(0, bytes) && sink->Sync();
    return sink->Close() && written ? FsStatus::Ok : FsStatus::Failed;
  }
  // Renames `from` over `to` in one step; Locked when either is in use.
  virtual FsStatus Replace(const std::string& from, const std::string& to) = 0;
  // Arranges for `from` to replace `to` when the computer restarts.
  virtual FsStatus ScheduleReplace(const std::string& from, const std::string& to) = 0;
  // True when replacements and deletions can be scheduled for the restart (on Windows, with the rights
  // to write what the system carries out then).
  virtual bool CanSchedule() = 0;
  // Locked when the file is in use.
  virtual FsStatus Remove(const std::string& name) = 0;
  // Arranges for the file to be deleted when the computer restarts.
  virtual FsStatus ScheduleRemove(const std::string& name) = 0;
  // Removes the folders that hold `name` while they are empty, deepest first.
  virtual void RemoveEmptyFolders(const std::string& name) = 0;
  virtual void Sleep(uint32_t ms) = 0;
  // Returns once the changes of names made so far in the folder that holds `name` are on the disk.
  virtual FsStatus SyncFolder(const std::string& name) = 0;
  // Returns once the replacements and deletions scheduled for the restart are on the disk.
  virtual FsStatus SyncScheduled() { return FsStatus::Ok; }

  // Puts a written file on the disk and closes it, perhaps on a worker while the caller goes on.
  void SyncLater(const std::string& name, std::unique_ptr<Sink> sink) { mSyncs.Add(name, std::move(sink)); }
  // Returns once every file given to SyncLater is on the disk and closed, calling `beat` meanwhile
  // (SyncQueue::Wait). False when one could not be synced or closed: *failed is its name.
  bool WaitSynced(const std::function<bool()>& beat, std::string* failed) {
    return mSyncs.Wait(beat, failed);
  }

 private:
  SyncQueue mSyncs;
};

}  // namespace rtp
