#include "archive/EmbedFsFormat.h"

#include <cstring>
#include <memory>
#include <new>

namespace embedfs {

uint32_t LoadU32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void StoreU32(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
  bytes[2] = static_cast<uint8_t>(value >> 16);
  bytes[3] = static_cast<uint8_t>(value >> 24);
}

int64_t FindMagic(const uint8_t* window, size_t length) {
  if (length < kMagicSize) return -1;
  for (size_t p = 0; p + kMagicSize <= length; ++p) {
    if (window[p] == static_cast<uint8_t>(kMagic[0]) && std::memcmp(window + p, kMagic, kMagicSize) == 0) {
      return static_cast<int64_t>(p);
    }
  }
  return -1;
}

const char* DescribeReadResult(ReadResult result) {
  switch (result) {
    case ReadResult::kOk:
      return "the archive directory was read";
    case ReadResult::kSizeUnknown:
      return "the file's size cannot be taken";
    case ReadResult::kFileTooShort:
      return "the file is shorter than 8192 bytes, so it holds no archive";
    case ReadResult::kFileTooLarge:
      return "the file is 4 GiB or longer, beyond the archive's 32-bit offsets";
    case ReadResult::kNoTrailer:
      return "no \"EmbedFs 1.0\" trailer in the file's last 8192 bytes, nor in the 8192 bytes before a "
             "certificate table that ends the file";
    case ReadResult::kTrailerIncomplete:
      return "the trailer's directory offset would lie before the start of the file";
    case ReadResult::kReadFailed:
      return "a read from the file failed or delivered fewer bytes than asked for";
    case ReadResult::kMarkerMismatch:
      return "the trailer magic was not found again when re-read (the file changed)";
    case ReadResult::kDirectoryOffsetTooLarge:
      return "the directory offset in the trailer is 2 GiB or more";
    case ReadResult::kDirectoryOutsideFile:
      return "the directory offset in the trailer leaves no room for a directory before the trailer";
    case ReadResult::kCountTooLarge:
      return "the entry count is larger than the space between directory and trailer can hold";
    case ReadResult::kOutOfMemory:
      return "there is not enough memory for the directory table";
    case ReadResult::kNameTooLong:
      return "a directory record has a name longer than 259 bytes";
    case ReadResult::kDirectoryPastTrailer:
      return "the directory records run into the trailer";
    case ReadResult::kDataPastTrailer:
      return "the entries' sizes add up to more than the bytes between directory and trailer";
  }
  return "unknown result";
}

Directory::~Directory() {
  Clear();
}

void Directory::Clear() {
  delete[] mEntries;
  mEntries = nullptr;
  mCount = 0;
  mLayout = Layout{};
}

Entry* Directory::Release() {
  Entry* table = mEntries;
  mEntries = nullptr;
  mCount = 0;
  mLayout = Layout{};
  return table;
}

namespace {

// The PE headers' fields that lead to the security directory.
constexpr uint64_t kDosHeaderSize = 64;
constexpr uint32_t kPeOffsetField = 0x3C;
constexpr uint64_t kPeSignatureSize = 4;
constexpr uint64_t kFileHeaderSize = 20;
constexpr uint32_t kOptionalSizeField = 16;  // in the file header
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
// Offsets of the data directories in the optional header; NumberOfRvaAndSizes is the u32 just before.
constexpr uint64_t kPe32Directories = 96;
constexpr uint64_t kPe32PlusDirectories = 112;
constexpr uint32_t kSecurityDirectory = 4;
constexpr uint64_t kDirectoryEntrySize = 8;

uint16_t LoadU16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

// The absolute offset of the first magic in the window of 8192 bytes that ends at end.
ReadResult FindMagicBefore(FileSource& file, uint64_t end, uint64_t* magic) {
  uint8_t window[kTailWindowSize] = {};
  if (!file.ReadAt(end - kTailWindowSize, window, kTailWindowSize)) return ReadResult::kReadFailed;
  const int64_t p = FindMagic(window, kTailWindowSize);
  if (p < 0) return ReadResult::kNoTrailer;
  *magic = end - kTailWindowSize + static_cast<uint64_t>(p);
  return ReadResult::kOk;
}

}  // namespace

ReadResult Directory::Read(FileSource& file) {
  Clear();

  uint64_t fileSize = 0;
  if (!file.Size(&fileSize)) return ReadResult::kSizeUnknown;
  // The whole file is checked, not only the low 32 bits of its size: those would place the tail anywhere.
  if (fileSize > kMaxFileSize) return ReadResult::kFileTooLarge;
  if (fileSize < kTailWindowSize) return ReadResult::kFileTooShort;

  uint64_t magic = 0;
  ReadResult found = FindMagicBefore(file, fileSize, &magic);
  if (found == ReadResult::kNoTrailer) {
    // A signature added after packing ends the file: the archive ends where its table starts. The window
    // ends there too, so the trailer found lies wholly before the table.
    CertificateTable table = {};
    if (FindCertificateTable(file, fileSize, &table) && table.offset >= kTailWindowSize) {
      found = FindMagicBefore(file, table.offset, &magic);
    }
  }
  if (found != ReadResult::kOk) return found;

  uint8_t marker[kMagicSize];
  if (!file.ReadAt(magic, marker, kMagicSize)) return ReadResult::kReadFailed;
  if (std::memcmp(marker, kMagic, kMagicSize) != 0) return ReadResult::kMarkerMismatch;

  if (magic < 4) return ReadResult::kTrailerIncomplete;
  const uint64_t trailerOffset = magic - 4;
  uint8_t word[4];
  if (!file.ReadAt(trailerOffset, word, 4)) return ReadResult::kReadFailed;
  const uint64_t orgsize = LoadU32(word);
  if (orgsize > kMaxOrgsize) return ReadResult::kDirectoryOffsetTooLarge;
  if (orgsize + 4 > trailerOffset) return ReadResult::kDirectoryOutsideFile;

  if (!file.ReadAt(orgsize, word, 4)) return ReadResult::kReadFailed;
  const uint32_t count = LoadU32(word);
  // Each record takes at least 9 bytes before the trailer; a count beyond that cannot be right, and is
  // refused before any table is asked for.
  const uint64_t capacity = (trailerOffset - orgsize - 4) / kMinRecordSize;
  if (count > capacity) return ReadResult::kCountTooLarge;
  // Only a 32-bit build can fail here.
  if (uint64_t{count} > uint64_t{SIZE_MAX / sizeof(Entry)}) return ReadResult::kOutOfMemory;
  std::unique_ptr<Entry[]> table(new (std::nothrow) Entry[count]);
  if (table == nullptr) return ReadResult::kOutOfMemory;

  uint64_t position = orgsize + 4;
  uint64_t dataSize = 0;
  for (uint32_t i = 0; i < count; ++i) {
    Entry& entry = table[i];
    if (position + kRecordHeaderSize > trailerOffset) return ReadResult::kDirectoryPastTrailer;
    uint8_t header[kRecordHeaderSize];
    if (!file.ReadAt(position, header, kRecordHeaderSize)) return ReadResult::kReadFailed;
    entry.size = LoadU32(header);
    entry.nameLen = LoadU32(header + 4);
    if (entry.nameLen > kMaxNameLength) return ReadResult::kNameTooLong;
    const uint64_t nameBytes = entry.nameLen + 1;
    if (position + kRecordHeaderSize + nameBytes > trailerOffset) return ReadResult::kDirectoryPastTrailer;
    if (!file.ReadAt(position + kRecordHeaderSize, entry.name, static_cast<uint32_t>(nameBytes))) {
      return ReadResult::kReadFailed;
    }
    // The name ends at its first zero byte; a record whose terminator is not zero still ends at nameLen.
    entry.name[entry.nameLen] = '\0';
    position += kRecordHeaderSize + nameBytes;
    dataSize += entry.size;
  }
  // Sizes are summed in 64 bits, so entries that add up past 4 GiB cannot wrap around into range.
  if (position + dataSize > trailerOffset) return ReadResult::kDataPastTrailer;

  mLayout.fileSize = fileSize;
  mLayout.orgsize = static_cast<uint32_t>(orgsize);
  mLayout.dataStart = static_cast<uint32_t>(position);
  mLayout.dataEnd = static_cast<uint32_t>(position + dataSize);
  mLayout.trailerOffset = static_cast<uint32_t>(trailerOffset);
  mCount = count;
  mEntries = table.release();
  return ReadResult::kOk;
}

bool FindCertificateTable(FileSource& file, uint64_t fileSize, CertificateTable* table) {
  uint8_t dos[kDosHeaderSize];
  if (fileSize < kDosHeaderSize || !file.ReadAt(0, dos, kDosHeaderSize)) return false;
  if (dos[0] != 'M' || dos[1] != 'Z') return false;
  // Every offset is summed in 64 bits and checked against the file before it is read.
  const uint64_t pe = LoadU32(dos + kPeOffsetField);
  uint8_t headers[kPeSignatureSize + kFileHeaderSize + 2];
  if (pe + sizeof headers > fileSize || !file.ReadAt(pe, headers, sizeof headers)) return false;
  if (std::memcmp(headers, "PE\0\0", kPeSignatureSize) != 0) return false;
  const uint64_t optionalSize = LoadU16(headers + kPeSignatureSize + kOptionalSizeField);
  const uint16_t optionalMagic = LoadU16(headers + kPeSignatureSize + kFileHeaderSize);
  uint64_t directories = 0;
  if (optionalMagic == kPe32Magic) {
    directories = kPe32Directories;
  } else if (optionalMagic == kPe32PlusMagic) {
    directories = kPe32PlusDirectories;
  } else {
    return false;
  }
  const uint64_t needed = directories + (kSecurityDirectory + 1) * kDirectoryEntrySize;
  const uint64_t optional = pe + kPeSignatureSize + kFileHeaderSize;
  if (optionalSize < needed || optional + needed > fileSize) return false;
  // NumberOfRvaAndSizes, then the directories up to the security directory.
  uint8_t fields[4 + (kSecurityDirectory + 1) * kDirectoryEntrySize];
  if (!file.ReadAt(optional + directories - 4, fields, sizeof fields)) return false;
  if (LoadU32(fields) <= kSecurityDirectory) return false;
  const uint8_t* security = fields + 4 + kSecurityDirectory * kDirectoryEntrySize;
  const uint64_t offset = LoadU32(security);
  const uint64_t size = LoadU32(security + 4);
  // Empty, or not ending at the end of the file (a table larger than the file never does in 64 bits).
  if (size == 0 || offset + size != fileSize) return false;
  table->offset = static_cast<uint32_t>(offset);
  table->size = static_cast<uint32_t>(size);
  return true;
}

bool FindSignature(FileSource& file, const Layout& layout, CertificateTable* table) {
  CertificateTable found = {};
  if (!FindCertificateTable(file, layout.fileSize, &found)) return false;
  // A table that starts inside or before the trailer would cover the archive itself.
  if (found.offset < uint64_t{layout.trailerOffset} + kTrailerSize) return false;
  *table = found;
  return true;
}

}  // namespace embedfs
