// Files through the C library, for the packer and the operator tool in both trees. Paths are UTF-8 text
// (on Windows they are widened and opened with the wide-character calls, so any path works; ASCII paths
// are the same in both encodings). Offsets are 64-bit: entries and hosts may be gigabytes long.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "archive/EmbedFsFormat.h"

namespace embedfs {

// An owned FILE*, closed by the destructor.
class StdioFile {
 public:
  StdioFile() = default;
  ~StdioFile() { Close(); }
  StdioFile(const StdioFile&) = delete;
  StdioFile& operator=(const StdioFile&) = delete;

  // mode as for fopen: "rb" or "wb".
  bool Open(const std::string& path, const char* mode);
  // Closes the file; false when buffered data could not be written.
  bool Close();
  bool IsOpen() const { return mFile != nullptr; }
  FILE* Get() const { return mFile; }

  bool Length(uint64_t* length);
  bool Seek(uint64_t offset);
  // Reads exactly length bytes, or fails.
  bool ReadExactly(void* buffer, size_t length);
  bool WriteAll(const void* buffer, size_t length);

 private:
  FILE* mFile = nullptr;
};

// A FileSource over a file opened for reading. Counts the bytes it delivers.
class StdioFileSource : public FileSource {
 public:
  bool Open(const std::string& path) { return mFile.Open(path, "rb"); }
  bool Size(uint64_t* size) override { return mFile.Length(size); }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length) override;
  uint64_t BytesRead() const { return mBytesRead; }

 private:
  StdioFile mFile;
  uint64_t mBytesRead = 0;
};

bool RemoveFile(const std::string& path);
// Replaces target by source (target may exist).
bool MoveOver(const std::string& source, const std::string& target);
bool FileExists(const std::string& path);

}  // namespace embedfs
