// The "EmbedFs 1.0" archive appended to the installer's executable, and the rules for reading its directory.
//
// Layout (all integers u32 little-endian): host | directory | data | trailer.
//   directory at orgsize: count, then per entry: size, nameLen, nameLen name bytes, one zero byte
//   data: the entries' bytes back to back in directory order, starting right after the directory
//   trailer, the last 16 bytes: orgsize, then the 12 bytes "EmbedFs 1.0\0"
// No offset is stored: an entry's offset is the data start plus the sizes of the entries before it.
//
// Publishers sign installers after packing them: an Authenticode signature is a certificate table appended
// to the file, placed by the PE image's security directory. A table of more than about 8 KiB pushes the
// trailer out of the last 8192 bytes; the archive then ends where the table starts.
//
// This code knows nothing of Windows: it reads through FileSource, which the installer implements over
// its own file handle and the tools, tests and fuzzer implement over stdio or memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace embedfs {

// The reader looks for the trailer only in the last kTailWindowSize bytes, so an archive file is never
// shorter than that.
constexpr uint32_t kTailWindowSize = 8192;
constexpr uint32_t kMagicSize = 12;
// The 11 characters and the zero byte that follows them: the literal's own terminator is part of the magic.
constexpr char kMagic[kMagicSize] = "EmbedFs 1.0";
// The last window position at which all 12 magic bytes still lie inside the window.
constexpr uint32_t kLastMagicPosition = kTailWindowSize - kMagicSize;
constexpr uint32_t kTrailerSize = 4 + kMagicSize;
// A name and its terminator fit in a 260-byte buffer (the Windows path limit).
constexpr uint32_t kNameBufferSize = 260;
constexpr uint32_t kMaxNameLength = kNameBufferSize - 1;
// size and nameLen of one directory record; the record then holds the name and a zero byte.
constexpr uint32_t kRecordHeaderSize = 8;
constexpr uint32_t kMinRecordSize = kRecordHeaderSize + 1;
// The directory's offset is used as a signed 32-bit seek position from the start of the file.
constexpr uint64_t kMaxOrgsize = 0x7FFFFFFFu;
// Every offset and the file length are below 4 GiB.
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFu;

// Random access to the bytes of one file. Every read delivers all the bytes asked for, or fails.
class FileSource {
 public:
  virtual ~FileSource() = default;
  virtual bool Size(uint64_t* size) = 0;
  virtual bool ReadAt(uint64_t offset, void* buffer, uint32_t length) = 0;
};

// One directory record as stored: the name is the 8-bit text up to its first zero byte (in the system's
// ANSI code page), zero-terminated here; nameLen is the stored length, which counts any bytes after an
// embedded zero too.
struct Entry {
  uint32_t size;
  uint32_t nameLen;
  char name[kNameBufferSize];
};

// A PE image's certificate table (its Authenticode signature), placed by data directory 4 of the optional
// header, whose "virtual address" is a file offset.
struct CertificateTable {
  uint32_t offset;
  uint32_t size;  // 0: none
};

// Where the parts of an archive lie in its file.
struct Layout {
  uint64_t fileSize;
  uint32_t orgsize;        // offset of the directory, and the length of the host before it
  uint32_t dataStart;      // the byte after the last directory record
  uint32_t dataEnd;        // dataStart plus the sizes of all entries
  uint32_t trailerOffset;  // offset of the trailer's orgsize field; the magic follows it
};

enum class ReadResult {
  kOk,
  kSizeUnknown,
  kFileTooShort,
  kFileTooLarge,
  kNoTrailer,
  kTrailerIncomplete,
  kReadFailed,
  kMarkerMismatch,
  kDirectoryOffsetTooLarge,
  kDirectoryOutsideFile,
  kCountTooLarge,
  kOutOfMemory,
  kNameTooLong,
  kDirectoryPastTrailer,
  kDataPastTrailer,
};

// A short English sentence for operators, e.g. "no archive trailer in the last 8192 bytes".
const char* DescribeReadResult(ReadResult result);

// The directory of one archive, read once. Empty until Read succeeds.
class Directory {
 public:
  Directory() = default;
  ~Directory();
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  // Finds the trailer in the file's last 8192 bytes (the lowest position of the magic wins), takes orgsize
  // from the 4 bytes before it and reads the directory there. Reads the tail window, the marker, orgsize
  // and the directory records, nothing else. Only when that window holds no magic and the file is a PE
  // image whose certificate table ends the file, the 8192 bytes before the table are searched instead.
  // Any failure leaves the directory empty and frees what it took.
  ReadResult Read(FileSource& file);

  bool IsOpen() const { return mEntries != nullptr; }
  uint32_t Count() const { return mCount; }
  const Entry* Entries() const { return mEntries; }
  const Entry& operator[](uint32_t index) const { return mEntries[index]; }
  const Layout& GetLayout() const { return mLayout; }

  // Gives the table to the caller (who frees it with delete[]) and empties the directory.
  Entry* Release();

 private:
  void Clear();

  Entry* mEntries = nullptr;
  uint32_t mCount = 0;
  Layout mLayout = {};
};

// Walks a directory table for the first entry that `matches` accepts (called with each entry in order) and
// yields its absolute offset and size. Works for any entry type with a `size` member. The caller's table
// came from a successful Directory::Read, so every offset it sums stays below the trailer.
template <class EntryType, class Match>
bool FindEntry(const EntryType* entries, uint32_t count, uint32_t dataStart, Match matches, uint32_t* offset,
               uint32_t* size, uint32_t* index = nullptr) {
  if (entries == nullptr) return false;
  uint64_t o = dataStart;
  for (uint32_t i = 0; i < count; ++i) {
    if (matches(entries[i])) {
      *offset = static_cast<uint32_t>(o);
      *size = entries[i].size;
      if (index != nullptr) *index = i;
      return true;
    }
    o += entries[i].size;
  }
  return false;
}

// The certificate table of a PE image whose security directory places a non-empty table that ends exactly
// at the end of the file. The headers are hostile input: false for anything else.
bool FindCertificateTable(FileSource& file, uint64_t fileSize, CertificateTable* table);

// The certificate table that follows a directory's archive, whether Read searched before it or found the
// trailer in the last 8192 bytes (a table of less than 8 KiB): one that starts at or after the trailer's
// end. False when the file has none that can be trusted.
bool FindSignature(FileSource& file, const Layout& layout, CertificateTable* table);

uint32_t LoadU32(const uint8_t* bytes);
void StoreU32(uint8_t* bytes, uint32_t value);

// The lowest window position at which the 12-byte magic occurs, or -1. Positions run from 0 to
// length - 12.
int64_t FindMagic(const uint8_t* window, size_t length);

}  // namespace embedfs
