#include "engine/fs/WinFileSystem.h"

#include <algorithm>
#include <new>

namespace rtp {

namespace {

constexpr int kMaxDepth = 64;
// ReadFile and WriteFile take 32-bit counts; smaller pieces also keep the system's buffers small.
constexpr DWORD kChunk = 1u << 20;

FsStatus StatusOfError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return FsStatus::NotFound;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_ACCESS_DENIED:
    case ERROR_USER_MAPPED_FILE:
      return FsStatus::Locked;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return FsStatus::Exists;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return FsStatus::NoMemory;
    default:
      return FsStatus::Failed;
  }
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A read-only file can neither be replaced nor deleted; the patch owns the client's files. True when
// the file was read-only and no longer is. Asked only after a refusal: looking up a name that does not
// exist costs Wine a scan of the whole folder.
bool ClearReadOnly(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
         ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

// Runs `step` and, when it was refused because `path` is read-only, clears that and runs it once more.
template <class Step>
bool EvenIfReadOnly(const std::wstring& path, Step step) {
  if (step()) return true;
  const DWORD refused = ::GetLastError();
  if (refused != ERROR_ACCESS_DENIED) return false;
  if (ClearReadOnly(path)) return step();
  ::SetLastError(refused);
  return false;
}

bool WriteHandle(HANDLE file, ByteView bytes);

bool Seek(HANDLE file, uint64_t offset) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  return offset <= 0x7FFFFFFFFFFFFFFFull && ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
}

// A file read in pieces, its size fixed when opened.
class HandleSource : public Source {
 public:
  HandleSource(HANDLE file, uint64_t size) : mFile(file), mSize(size) {}
  uint64_t Size() override { return mSize; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t length) override {
    if (offset > mSize || length > mSize - offset || !Seek(mFile.Get(), offset)) return false;
    for (size_t done = 0; done < length;) {
      const DWORD want = static_cast<DWORD>(std::min<size_t>(kChunk, length - done));
      DWORD got = 0;
      if (!::ReadFile(mFile.Get(), out + done, want, &got, nullptr) || got == 0) return false;
      done += got;
    }
    return true;
  }

 private:
  CHandle mFile;
  uint64_t mSize;
};

class HandleSink : public Sink {
 public:
  explicit HandleSink(HANDLE file) : mFile(file) {}
  bool WriteAt(uint64_t offset, ByteView bytes) override {
    return Seek(mFile.Get(), offset) && WriteHandle(mFile.Get(), bytes);
  }
  bool Close() override { return mFile.Close(); }
  bool Sync() override { return ::FlushFileBuffers(mFile.Get()) != FALSE; }

 private:
  CHandle mFile;
};

HANDLE CreateForWriting(const std::wstring& path, DWORD disposition = CREATE_ALWAYS) {
  return ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Makes an open file `size` bytes long, unless it is already.
bool SizeTo(HANDLE file, uint64_t size) {
  LARGE_INTEGER now;
  if (!::GetFileSizeEx(file, &now)) return false;
  return static_cast<uint64_t>(now.QuadPart) == size || (Seek(file, size) && ::SetEndOfFile(file));
}

// Takes `file` (opened for writing) into a sink; closes it when no sink can be made.
FsStatus SinkOf(HANDLE file, std::unique_ptr<Sink>* out) {
  CHandle owned(file);
  out->reset(new (std::nothrow) HandleSink(file));
  if (!*out) return FsStatus::NoMemory;
  owned.Detach();
  return FsStatus::Ok;
}

FsStatus ReadHandle(HANDLE file, Buffer* out) {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file, &size)) return FsStatus::Failed;
  if (static_cast<uint64_t>(size.QuadPart) > SIZE_MAX) return FsStatus::NoMemory;
  if (!out->Resize(static_cast<size_t>(size.QuadPart))) return FsStatus::NoMemory;
  size_t done = 0;
  while (done < out->size()) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(kChunk, out->size() - done));
    DWORD got = 0;
    if (!::ReadFile(file, out->data() + done, want, &got, nullptr) || got == 0) return FsStatus::Failed;
    done += got;
  }
  return FsStatus::Ok;
}

bool WriteHandle(HANDLE file, ByteView bytes) {
  size_t done = 0;
  while (done < bytes.size) {
    const DWORD want = static_cast<DWORD>(std::min<size_t>(kChunk, bytes.size - done));
    DWORD put = 0;
    if (!::WriteFile(file, bytes.data + done, want, &put, nullptr) || put != want) return false;
    done += put;
  }
  return true;
}

}  // namespace

// Flushes of many small files overlap on the disk's queue.
constexpr unsigned kSyncThreads = 4;

WinFileSystem::WinFileSystem(std::wstring root) : FileSystem(kSyncThreads), mRoot(std::move(root)) {
  // A full path with backslashes, which the long form of a path needs.
  const DWORD length = ::GetFullPathNameW(mRoot.c_str(), 0, nullptr, nullptr);
  std::wstring full(length, L'\0');
  if (length > 0 && ::GetFullPathNameW(mRoot.c_str(), length, &full[0], nullptr) == length - 1) {
    full.resize(length - 1);
    mRoot = full;
  }
  while (mRoot.size() > 3 && (mRoot.back() == L'\\' || mRoot.back() == L'/')) mRoot.pop_back();
}

std::wstring WinFileSystem::PathOf(const std::string& name) const {
  std::wstring path = mRoot;
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
  path += Widen(name, CP_UTF8);
  // Beyond MAX_PATH (248 for a folder) only the form that skips the system's parsing works; it needs a
  // full path with backslashes.
  if (path.size() >= 248 && path.size() > 2 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
  if (path.size() >= 248 && path.compare(0, 2, L"\\\\") == 0 && path.compare(0, 4, L"\\\\?\\") != 0)
    return L"\\\\?\\UNC\\" + path.substr(2);
  return path;
}

bool WinFileSystem::RootExists() {
  return IsFolder(mRoot);
}

// The space this user may still fill (quotas counted), as the installer measures it.
bool WinFileSystem::FreeSpace(uint64_t* bytes) {
  ULARGE_INTEGER available{}, total{}, free{};
  if (!::GetDiskFreeSpaceExW(mRoot.c_str(), &available, &total, &free)) return false;
  *bytes = available.QuadPart;
  return true;
}

bool WinFileSystem::ListFolder(const std::string& prefix, std::vector<std::string>* names, int depth,
                               bool readable) {
  if (depth > kMaxDepth) return readable;
  const std::wstring pattern = (prefix.empty() ? mRoot + L"\\" : PathOf(prefix) + L"\\") + L"*";
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return ::GetLastError() == ERROR_FILE_NOT_FOUND || (readable && !prefix.empty());
  bool ok = true;
  do {
    const std::wstring leaf = found.cFileName;
    if (leaf == L"." || leaf == L"..") continue;
    std::string narrow;
    if (!Narrow(leaf, CP_UTF8, &narrow)) {
      if (readable) continue;
      ok = false;
      break;
    }
    const std::string name = prefix.empty() ? narrow : prefix + '\\' + narrow;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // A junction or a link to a folder may lead out of the client, or back into it.
      if (readable && (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
      if (!ListFolder(name, names, depth + 1, readable)) {
        ok = false;
        break;
      }
    } else {
      names->push_back(name);
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return ok;
}

bool WinFileSystem::ListNames(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  WIN32_FIND_DATAW found;
  const HANDLE search =
      ::FindFirstFileW(((folder.empty() ? mRoot : PathOf(folder)) + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  bool ok = true;
  do {
    const std::wstring leaf = found.cFileName;
    std::string narrow;
    if (leaf == L"." || leaf == L"..") continue;
    if (!Narrow(leaf, CP_UTF8, &narrow)) ok = false;
    names->push_back(narrow);
  } while (ok && ::FindNextFileW(search, &found));
  ::FindClose(search);
  return ok;
}

bool WinFileSystem::List(std::vector<std::string>* names) {
  names->clear();
  return ListFolder(std::string(), names, 0, false);
}

bool WinFileSystem::ListReadable(std::vector<std::string>* names) {
  names->clear();
  return ListFolder(std::string(), names, 0, true);
}

FsStatus WinFileSystem::OpenRead(const std::string& name, std::unique_ptr<Source>* out) {
  const std::wstring path = PathOf(name);
  const FsStatus status =
      OpenFileForReading(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, out);
  // A folder is refused as access denied; asked only then, as every lookup costs under Wine.
  return status == FsStatus::Locked && IsFolder(path) ? FsStatus::NotFound : status;
}

FsStatus WinFileSystem::Create(const std::string& name, std::unique_ptr<Sink>* out) {
  return CreateAs(name, CREATE_ALWAYS, out);
}

FsStatus WinFileSystem::CreateNew(const std::string& name, std::unique_ptr<Sink>* out) {
  return CreateAs(name, CREATE_NEW, out);
}

FsStatus WinFileSystem::Overwrite(const std::string& name, uint64_t size, std::unique_ptr<Sink>* out) {
  return CreateAs(name, OPEN_ALWAYS, out, &size);
}

FsStatus WinFileSystem::CreateAs(const std::string& name, DWORD disposition, std::unique_ptr<Sink>* out,
                                 const uint64_t* size) {
  const std::wstring path = PathOf(name);
  HANDLE file = INVALID_HANDLE_VALUE;
  const auto create = [&] {
    file = CreateForWriting(path, disposition);
    return file != INVALID_HANDLE_VALUE;
  };
  // The folders are made only when the file's is missing: most new files go beside old ones.
  if (!EvenIfReadOnly(path, create)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_PATH_NOT_FOUND) return StatusOfError(error);
    for (size_t at = name.find('\\'); at != std::string::npos; at = name.find('\\', at + 1)) {
      const std::wstring folder = PathOf(name.substr(0, at));
      if (!::CreateDirectoryW(folder.c_str(), nullptr) && !IsFolder(folder)) return FsStatus::Failed;
    }
    if (!create()) return StatusOfError(::GetLastError());
  }
  if (size && !SizeTo(file, *size)) {
    ::CloseHandle(file);
    return FsStatus::Failed;
  }
  return SinkOf(file, out);
}

FsStatus WinFileSystem::WriteDurable(const std::string& name, ByteView bytes) {
  CHandle file(::CreateFileW(PathOf(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!file.IsValid()) return StatusOfError(::GetLastError());
  if (!WriteHandle(file.Get(), bytes) || !::FlushFileBuffers(file.Get())) return FsStatus::Failed;
  return file.Close() ? FsStatus::Ok : FsStatus::Failed;
}

FsStatus WinFileSystem::Replace(const std::string& from, const std::string& to) {
  const std::wstring source = PathOf(from), target = PathOf(to);
  // A file another program holds without sharing deletion fails here with a sharing violation (or,
  // for a running program's image, access denied): both are Locked.
  if (EvenIfReadOnly(target, [&] {
        return ::MoveFileExW(source.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
      }))
    return FsStatus::Ok;
  return StatusOfError(::GetLastError());
}

FsStatus WinFileSystem::ScheduleReplace(const std::string& from, const std::string& to) {
  return ::MoveFileExW(PathOf(from).c_str(), PathOf(to).c_str(),
                       MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)
             ? FsStatus::Ok
             : FsStatus::Failed;
}

FsStatus WinFileSystem::Remove(const std::string& name) {
  const std::wstring path = PathOf(name);
  return EvenIfReadOnly(path, [&] { return ::DeleteFileW(path.c_str()) != FALSE; })
             ? FsStatus::Ok
             : StatusOfError(::GetLastError());
}

FsStatus WinFileSystem::ScheduleRemove(const std::string& name) {
  return ::MoveFileExW(PathOf(name).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? FsStatus::Ok
                                                                                   : FsStatus::Failed;
}

void WinFileSystem::RemoveEmptyFolders(const std::string& name) {
  for (size_t at = name.rfind('\\'); at != std::string::npos && at > 0; at = name.rfind('\\', at - 1)) {
    if (!::RemoveDirectoryW(PathOf(name.substr(0, at)).c_str())) return;
  }
}

void WinFileSystem::Sleep(uint32_t ms) {
  ::Sleep(ms);
}

// Renames are written through (MOVEFILE_WRITE_THROUGH), and NTFS logs every change of names in the
// order it was made: a written-through rename carries every earlier one to the disk with it.
FsStatus WinFileSystem::SyncFolder(const std::string&) {
  return FsStatus::Ok;
}

// MoveFileEx keeps what it schedules for the restart in the registry key of the session manager, which
// the system writes to the disk only when it gets round to it. The engine imports nothing but KERNEL32,
// so the registry's calls are looked up in the system's ADVAPI32 (a KnownDLL).
namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// Opens the session manager's key with `access` and runs `use` on it; false when it cannot be opened.
template <class Use>
bool WithSessionManager(REGSAM access, Use use) {
  using OpenKeyFn = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
  using KeyFn = LONG(WINAPI*)(HKEY);
  CLibrary advapi;
  if (!advapi.Attach(::LoadLibraryExW(L"advapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))) {
    // Systems without the search flags: by the system folder's full path.
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !advapi.Load((std::wstring(folder) + L"\\advapi32.dll").c_str()))
      return false;
  }
  const auto open = advapi.Entry<OpenKeyFn>("RegOpenKeyExW");
  const auto close = advapi.Entry<KeyFn>("RegCloseKey");
  HKEY key = nullptr;
  if (!open || !close || open(HKEY_LOCAL_MACHINE, kSessionManager, 0, access, &key) != ERROR_SUCCESS)
    return false;
  const bool used = use(advapi, key);
  close(key);
  return used;
}

}  // namespace

bool WinFileSystem::CanSchedule() {
  return WithSessionManager(KEY_SET_VALUE, [](const CLibrary&, HKEY) { return true; });
}

FsStatus WinFileSystem::SyncScheduled() {
  using KeyFn = LONG(WINAPI*)(HKEY);
  const bool flushed = WithSessionManager(KEY_QUERY_VALUE, [](const CLibrary& advapi, HKEY key) {
    const auto flush = advapi.Entry<KeyFn>("RegFlushKey");
    return flush && flush(key) == ERROR_SUCCESS;
  });
  return flushed ? FsStatus::Ok : FsStatus::Failed;
}

FsStatus OpenFileForReading(const std::wstring& path, DWORD share, std::unique_ptr<Source>* out) {
  CHandle file(::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.IsValid()) return StatusOfError(::GetLastError());
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.Get(), &size)) return FsStatus::Failed;
  out->reset(new (std::nothrow) HandleSource(file.Get(), static_cast<uint64_t>(size.QuadPart)));
  if (!*out) return FsStatus::NoMemory;
  file.Detach();
  return FsStatus::Ok;
}

FsStatus CreateFileForWriting(const std::wstring& path, std::unique_ptr<Sink>* out) {
  const HANDLE file = CreateForWriting(path);
  return file == INVALID_HANDLE_VALUE ? FsStatus::Failed : SinkOf(file, out);
}

bool ReadWholeFile(const std::wstring& path, Buffer* out) {
  CHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  return file.IsValid() && ReadHandle(file.Get(), out) == FsStatus::Ok;
}

bool WriteWholeFile(const std::wstring& path, ByteView bytes) {
  CHandle file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return false;
  const bool written = WriteHandle(file.Get(), bytes);
  return file.Close() && written;
}

}  // namespace rtp
