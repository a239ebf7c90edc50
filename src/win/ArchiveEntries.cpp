#include "win/ArchiveEntries.h"

const uint8_t* CArchiveEntries::MapEntry(const std::wstring& name, uint32_t* size) {
  return mArchive.MapEntry(name, *size);
}

bool CArchiveEntries::OpenEntry(const std::wstring& name, uint32_t* size) {
  mSource = mArchive.OpenEntry(name, *size);
  return mSource != nullptr;
}

bool CArchiveEntries::Read(void* buffer, uint32_t length, uint32_t* error) {
  DWORD read = 0;
  if (mSource == nullptr || !::ReadFile(mSource, buffer, length, &read, nullptr)) {
    *error = mSource == nullptr ? ERROR_INVALID_HANDLE : ::GetLastError();
    return false;
  }
  // A short read is an archive that ends early.
  if (read != length) {
    *error = ERROR_HANDLE_EOF;
    return false;
  }
  return true;
}
