#pragma once
// The keep file: the old bytes of every file a run rewrites in place, written and on the disk before the
// first of them is touched, so that a failed or killed run can be undone. "TPK1", then one record a
// file: fixed32 entry number (in the journal), fixed64 size, fixed32 CRC-32C of the bytes, the bytes.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "engine/fs/FileSystem.h"

namespace rtp {

constexpr const char kKeepName[] = "tesserine.~tpkeep";

class KeepWriter {
 public:
  explicit KeepWriter(FileSystem& fs) : mFs(fs) {}

  // Copies all of `old` as the record of entry `entry`; *at receives where its bytes begin in the file.
  // NotFound when `old` could not be read; Failed when the keep file could not be written.
  FsStatus Add(uint32_t entry, Source& old, uint64_t* at);
  // Puts what was kept on the disk and closes the file; nothing to do when nothing was kept.
  FsStatus Seal();

 private:
  FileSystem& mFs;
  std::unique_ptr<Sink> mSink;
  std::unique_ptr<uint8_t[]> mBuffer;
  uint64_t mEnd = 0;
  uint64_t mUnsynced = 0;
};

// The kept old files of an undo, by entry number.
class KeptFiles {
 public:
  // Restores entry `entry`'s old bytes to `name`, unless it holds them already (a file left untouched,
  // perhaps because it is in use). Failed when the keep file has no sound record of the entry.
  FsStatus Restore(FileSystem& fs, uint32_t entry, const std::string& name);

 private:
  struct Record {
    uint64_t at = 0;
    uint64_t size = 0;
    uint32_t sum = 0;
  };
  FsStatus Load(FileSystem& fs);

  std::unique_ptr<Source> mFile;
  std::map<uint32_t, Record> mRecords;
};

// True when `name` holds exactly `size` bytes whose CRC-32C is `sum`.
bool HoldsBytes(FileSystem& fs, const std::string& name, uint64_t size, uint32_t sum);

}  // namespace rtp
