#include "archive/EmbedFsStdio.h"

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#include <wchar.h>
#else
#include <sys/stat.h>
#endif

namespace embedfs {

namespace {

#ifdef _WIN32
// UTF-8 to UTF-16 by hand: this layer includes no windows.h. Malformed sequences become U+FFFD.
std::wstring Widen(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t code = 0xFFFD;
    size_t extra = 0;
    if (c < 0x80) {
      code = c;
    } else if ((c & 0xE0) == 0xC0) {
      code = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      code = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      code = c & 0x07;
      extra = 3;
    }
    ++i;
    bool ok = c < 0x80 || extra != 0;
    for (size_t k = 0; ok && k < extra; ++k, ++i) {
      if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    }
    if (!ok || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(code));
    }
  }
  return out;
}
#endif

}  // namespace

bool StdioFile::Open(const std::string& path, const char* mode) {
  Close();
#ifdef _WIN32
  const std::string narrowMode(mode);
  const std::wstring wideMode(narrowMode.begin(), narrowMode.end());
  mFile = _wfopen(Widen(path).c_str(), wideMode.c_str());
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
  return _wremove(Widen(path).c_str()) == 0;
#else
  return std::remove(path.c_str()) == 0;
#endif
}

bool ReplaceFile(const std::string& source, const std::string& target) {
#ifdef _WIN32
  // The C library's rename does not replace an existing file on Windows.
  const std::wstring wideTarget = Widen(target);
  if (_waccess(wideTarget.c_str(), 0) == 0 && _wremove(wideTarget.c_str()) != 0) return false;
  return _wrename(Widen(source).c_str(), wideTarget.c_str()) == 0;
#else
  return std::rename(source.c_str(), target.c_str()) == 0;
#endif
}

bool FileExists(const std::string& path) {
#ifdef _WIN32
  return _waccess(Widen(path).c_str(), 0) == 0;
#else
  struct stat info;
  return stat(path.c_str(), &info) == 0;
#endif
}

}  // namespace embedfs
