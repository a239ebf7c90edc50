#include "win/EmbedFs.h"

#include <algorithm>
#include <new>

#include "framework/Text.h"

namespace {

// The directory is read through the reader's own file handle, with the same rules the tools use.
class CHandleFileSource : public embedfs::FileSource {
 public:
  explicit CHandleFileSource(HANDLE file) : mFile(file) {}

  bool Size(uint64_t* size) override {
    LARGE_INTEGER length;
    if (!::GetFileSizeEx(mFile, &length) || length.QuadPart < 0) return false;
    *size = static_cast<uint64_t>(length.QuadPart);
    return true;
  }

  bool ReadAt(uint64_t offset, void* buffer, uint32_t length) override {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(mFile, position, nullptr, FILE_BEGIN)) return false;
    DWORD read = 0;
    return ::ReadFile(mFile, buffer, length, &read, nullptr) && read == length;
  }

 private:
  HANDLE mFile;
};

std::wstring ModulePath() {
  wchar_t path[MAX_PATH + 1] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

}  // namespace

CEmbedFs::CEmbedFs() : mPath(ModulePath()) {}

CEmbedFs::CEmbedFs(const std::wstring& path) : mPath(path) {}

// Members close the mapping and the file and free the table; views handed out stay mapped by design.
CEmbedFs::~CEmbedFs() = default;

bool CEmbedFs::Open() {
  if (mEntries) return true;

  mFile.Attach(::CreateFileW(mPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!mFile) return false;

  CHandleFileSource source(mFile.Get());
  embedfs::Directory directory;
  std::unique_ptr<EmbedFsEntry[]> table;
  bool ok = directory.Read(source) == embedfs::ReadResult::kOk;
  // In a 32-bit process a count the file can hold may still be a table larger than the address space.
  if (ok && uint64_t{directory.Count()} > uint64_t{SIZE_MAX / sizeof(EmbedFsEntry)}) ok = false;
  if (ok) {
    table.reset(new (std::nothrow) EmbedFsEntry[directory.Count()]);
    ok = table != nullptr;
  }
  for (uint32_t i = 0; ok && i < directory.Count(); ++i) {
    const embedfs::Entry& stored = directory[i];
    EmbedFsEntry& entry = table[i];
    entry.size = stored.size;
    entry.nameLen = stored.nameLen;
    // A name of at most 259 bytes widens to at most 259 UTF-16 units in any ANSI code page.
    const CString name = Widen(stored.name);
    ok = stored.name[0] == '\0' || !name.empty();
    const size_t units = ok ? std::min<size_t>(name.size(), embedfs::kMaxNameLength) : 0;
    name.copy(entry.name, units);
    entry.name[units] = L'\0';
  }
  if (!ok) {
    mFile.Close();
    return false;
  }

  // Not checked: without a mapping MapEntry fails and everything else works.
  mMapping.Attach(::CreateFileMappingW(mFile.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  mCount = directory.Count();
  mDataStart = directory.GetLayout().dataStart;
  mEntries = std::move(table);
  return true;
}

std::wstring CEmbedFs::EntryName(uint32_t index) {
  if (!Open() || index >= mCount) return std::wstring();
  return mEntries[index].name;
}

bool CEmbedFs::FindEntry(const std::wstring& name, uint32_t* offset, uint32_t* size) {
  if (!Open()) return false;
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  mGranularity = info.dwAllocationGranularity;
  const wchar_t* wanted = name.c_str();
  return embedfs::FindEntry(
      mEntries.get(), mCount, mDataStart,
      [wanted](const EmbedFsEntry& entry) {
        return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, entry.name, -1, wanted, -1) ==
               CSTR_EQUAL;
      },
      offset, size);
}

const uint8_t* CEmbedFs::MapEntry(const std::wstring& name, uint32_t& size) {
  uint32_t offset = 0;
  uint32_t entrySize = 0;
  if (!FindEntry(name, &offset, &entrySize) || !mMapping || mGranularity == 0) return nullptr;
  // Views must start on an allocation-granularity boundary.
  const uint32_t skew = offset % mGranularity;
  uint64_t length = uint64_t{skew} + entrySize;
  // A zero length would map everything up to the end of the file; the byte at offset always exists
  // (at worst it is the trailer's).
  if (length == 0) length = 1;
  if (length > SIZE_MAX) return nullptr;
  void* view = ::MapViewOfFile(mMapping.Get(), FILE_MAP_READ, 0, offset - skew, static_cast<SIZE_T>(length));
  if (view == nullptr) return nullptr;
  size = entrySize;
  return static_cast<const uint8_t*>(view) + skew;
}

void CEmbedFs::UnmapEntry(const void* p) {
  if (p == nullptr || mGranularity == 0) return;
  // Views start on a granularity boundary in memory too.
  const uintptr_t address = reinterpret_cast<uintptr_t>(p);
  ::UnmapViewOfFile(reinterpret_cast<const void*>(address - address % mGranularity));
}

HANDLE CEmbedFs::OpenEntry(const std::wstring& name, uint32_t& size) {
  uint32_t offset = 0;
  uint32_t entrySize = 0;
  if (!FindEntry(name, &offset, &entrySize)) return nullptr;
  LARGE_INTEGER position;
  position.QuadPart = offset;
  if (!::SetFilePointerEx(mFile.Get(), position, nullptr, FILE_BEGIN)) return nullptr;
  size = entrySize;
  return mFile.Get();
}
