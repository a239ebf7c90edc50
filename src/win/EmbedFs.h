// The installer's reader of the archive appended to its own executable.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "archive/EmbedFsFormat.h"
#include "framework/Handle.h"

// One directory entry. Entries keep no offset: it is the data start plus the sizes of the entries before.
struct EmbedFsEntry {
  uint32_t size;
  wchar_t name[embedfs::kNameBufferSize];  // the 8-bit name widened with the ANSI code page, zero-terminated
  uint32_t nameLen;                        // the name's length in bytes as stored in the directory
};

class CEmbedFs {
 public:
  // The running executable's own file. Nothing is opened yet.
  CEmbedFs();
  explicit CEmbedFs(const std::wstring& path);
  ~CEmbedFs();
  CEmbedFs(const CEmbedFs&) = delete;
  CEmbedFs& operator=(const CEmbedFs&) = delete;

  // Opens the reader if it is not open yet; every other call does this first. A failed open leaves the
  // reader closed with nothing held, and the next call tries again.
  bool Open();
  // The name at index, or an empty text past the last entry or when the archive cannot be opened.
  std::wstring EntryName(uint32_t index);
  // A read-only view of the named entry's bytes (first match ignoring case), or null; size is set only on
  // success. The view stays mapped until UnmapEntry.
  const uint8_t* MapEntry(const std::wstring& name, uint32_t& size);
  // Releases the whole view that a MapEntry call returned.
  void UnmapEntry(const void* p);
  // The reader's own file handle, positioned at the named entry's first byte, or null; size is set only on
  // success. The handle stays the reader's: read at most size bytes and do not close it. One position is
  // shared by all callers, so one thread at a time.
  HANDLE OpenEntry(const std::wstring& name, uint32_t& size);

 private:
  bool FindEntry(const std::wstring& name, uint32_t* offset, uint32_t* size);

  std::unique_ptr<EmbedFsEntry[]> mEntries;  // null until the reader is open
  uint32_t mCount = 0;
  uint32_t mDataStart = 0;
  CHandle mMapping;
  uint32_t mGranularity = 0;
  std::wstring mPath;
  CHandle mFile;
};
