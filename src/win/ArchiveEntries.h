#pragma once
// The installer's own archive as the install flow reads it: names, mapped views and the copy source.
#include <windows.h>

#include "core/Ports.h"
#include "win/EmbedFs.h"

class CArchiveEntries : public core::ArchiveEntries {
 public:
  CArchiveEntries() = default;
  explicit CArchiveEntries(const std::wstring& path) : mArchive(path) {}

  std::wstring EntryName(uint32_t index) override { return mArchive.EntryName(index); }
  const uint8_t* MapEntry(const std::wstring& name, uint32_t* size) override;
  void UnmapEntry(const uint8_t* bytes) override { mArchive.UnmapEntry(bytes); }
  bool OpenEntry(const std::wstring& name, uint32_t* size) override;
  bool Read(void* buffer, uint32_t length, uint32_t* error) override;

 private:
  CEmbedFs mArchive;
  HANDLE mSource = nullptr;  // the reader's own handle, positioned by OpenEntry
};
