// libFuzzer harness for the archive directory reader: the input is a whole file. Whatever it holds, the
// reader either fails cleanly or yields a directory whose every entry lies inside the file, before the
// trailer, and can be read in full.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "archive/EmbedFsFormat.h"

namespace {

class BytesSource : public embedfs::FileSource {
 public:
  BytesSource(const uint8_t* data, size_t size) : mData(data), mSize(size) {}
  bool Size(uint64_t* size) override {
    *size = mSize;
    return true;
  }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length) override {
    if (offset > mSize || length > mSize - offset) return false;
    std::memcpy(buffer, mData + offset, length);
    return true;
  }

 private:
  const uint8_t* mData;
  size_t mSize;
};

volatile uint32_t sSink;

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BytesSource source(data, size);
  embedfs::Directory directory;
  const embedfs::ReadResult result = directory.Read(source);
  Require(embedfs::DescribeReadResult(result) != nullptr);
  if (result != embedfs::ReadResult::kOk) {
    Require(!directory.IsOpen() && directory.Count() == 0);
    return 0;
  }
  const embedfs::Layout& layout = directory.GetLayout();
  Require(layout.fileSize == size && size >= embedfs::kTailWindowSize);
  Require(layout.orgsize + 4u <= layout.dataStart && layout.dataStart <= layout.dataEnd);
  Require(layout.dataEnd <= layout.trailerOffset && layout.trailerOffset + embedfs::kTrailerSize <= size);
  Require(std::memcmp(data + layout.trailerOffset + 4, embedfs::kMagic, embedfs::kMagicSize) == 0);

  uint64_t offsetByIndex = layout.dataStart;
  for (uint32_t i = 0; i < directory.Count(); ++i) {
    const embedfs::Entry& entry = directory[i];
    Require(entry.nameLen <= embedfs::kMaxNameLength);
    Require(std::strlen(entry.name) <= entry.nameLen);
    Require(offsetByIndex + entry.size <= layout.dataEnd);
    // Touch the entry's first and last bytes, so a wrong bound shows as an overflow of the input.
    if (entry.size > 0) sSink += data[offsetByIndex] + data[offsetByIndex + entry.size - 1];

    uint32_t offset = 0, length = 0, index = 0;
    const char* wanted = entry.name;
    Require(embedfs::FindEntry(
        directory.Entries(), directory.Count(), layout.dataStart,
        [wanted](const embedfs::Entry& candidate) { return std::strcmp(candidate.name, wanted) == 0; },
        &offset, &length, &index));
    Require(index <= i && offset >= layout.dataStart && uint64_t{offset} + length <= layout.dataEnd);
    if (index == i) Require(offset == offsetByIndex && length == entry.size);
    offsetByIndex += entry.size;
  }
  Require(offsetByIndex == layout.dataEnd);
  return 0;
}
