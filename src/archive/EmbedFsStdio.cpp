#include "archive/EmbedFsStdio.h"

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#include <wchar.h>

#include "winbase/Text.h"
#else
#include <sys/stat.h>
#endif

namespace embedfs {

bool StdioFile::Open(const std::string& path, const char* mode) {
  Close();
#ifdef _WIN32
  const std::string narrowMode(mode);
  const std::wstring wideMode(narrowMode.begin(), narrowMode.end());
  mFile = _wfopen(Widen(path, CP_UTF8).c_str(), wideMode.c_str());
#else
  mFile = std::fopen(path.c_str(), mode);
#endif
  return mFile != nullptr;
}

bool StdioFile::Close() {
  if (mFile == nullptr) return true;
  const bool ok = std::fclose(mFile) == 0;
  mFile = nullptr;
  return ok;
}

bool StdioFile::Length(uint64_t* length) {
  if (mFile == nullptr) return false;
#ifdef _WIN32
  const int64_t end = _filelengthi64(_fileno(mFile));
  if (end < 0) return false;
#else
  struct stat info;
  if (fstat(fileno(mFile), &info) != 0 || info.st_size < 0) return false;
  const int64_t end = info.st_size;
#endif
  *length = static_cast<uint64_t>(end);
  return true;
}

bool StdioFile::Seek(uint64_t offset) {
  if (mFile == nullptr || offset > static_cast<uint64_t>(INT64_MAX)) return false;
#ifdef _WIN32
  return _fseeki64(mFile, static_cast<int64_t>(offset), SEEK_SET) == 0;
#else
  return fseeko(mFile, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool StdioFile::ReadExactly(void* buffer, size_t length) {
  if (mFile == nullptr) return false;
  return std::fread(buffer, 1, length, mFile) == length;
}

bool StdioFile::WriteAll(const void* buffer, size_t length) {
  if (mFile == nullptr) return false;
  return std::fwrite(buffer, 1, length, mFile) == length;
}

bool StdioFileSource::ReadAt(uint64_t offset, void* buffer, uint32_t length) {
  if (!mFile.Seek(offset) || !mFile.ReadExactly(buffer, length)) return false;
  mBytesRead += length;
  return true;
}

bool RemoveFile(const std::string& path) {
#ifdef _WIN32
  return _wremove(Widen(path, CP_UTF8).c_str()) == 0;
#else
  return std::remove(path.c_str()) == 0;
#endif
}

bool MoveOver(const std::string& source, const std::string& target) {
#ifdef _WIN32
  // The C library's rename does not replace an existing file on Windows.
  const std::wstring wideTarget = Widen(target, CP_UTF8);
  if (_waccess(wideTarget.c_str(), 0) == 0 && _wremove(wideTarget.c_str()) != 0) return false;
  return _wrename(Widen(source, CP_UTF8).c_str(), wideTarget.c_str()) == 0;
#else
  return std::rename(source.c_str(), target.c_str()) == 0;
#endif
}

bool FileExists(const std::string& path) {
#ifdef _WIN32
  return _waccess(Widen(path, CP_UTF8).c_str(), 0) == 0;
#else
  struct stat info;
  return stat(path.c_str(), &info) == 0;
#endif
}

}  // namespace embedfs
