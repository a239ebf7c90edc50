#include "archive/EmbedFsFormat.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <string>
#include <vector>

#include "ArchiveFixture.h"

// A directory table that cannot be allocated must come back as a failed open, not as AddressSanitizer's
// out-of-memory report: let its allocator answer null like the real one.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}
#endif
#endif

namespace {

using embedfs::Directory;
using embedfs::ReadResult;
using fixture::Archive;
using fixture::Item;
using fixture::MemorySource;
using fixture::Noise;
using fixture::U32;

constexpr uint32_t kHostSize = 0x3000;

ReadResult ReadBytes(const std::string& bytes, Directory* directory) {
  MemorySource source(bytes);
  return directory->Read(source);
}

// Offset and size of the first entry named name (exact bytes).
bool Locate(const Directory& directory, const std::string& name, uint32_t* offset, uint32_t* size) {
  return embedfs::FindEntry(
      directory.Entries(), directory.Count(), directory.GetLayout().dataStart,
      [&name](const embedfs::Entry& entry) { return name == entry.name; }, offset, size);
}

TEST(EmbedFsFormat, ReadsNamesSizesAndWhereEachEntrysBytesLie) {
  const std::vector<Item> items = {{"patchw32.dll", Noise(5000, 1)},
                                   {"patchnotes4536.rtf", "{\\rtf1 notes}"},
                                   {"ZAV.2.12.4526-2.12.4536.rtp", Noise(12000, 2)}};
  const std::string host = Noise(kHostSize, 3);
  const std::string file = Archive(host, items);
  Directory directory;
  ASSERT_EQ(ReadBytes(file, &directory), ReadResult::kOk);

  ASSERT_EQ(directory.Count(), 3u);
  const embedfs::Layout& layout = directory.GetLayout();
  EXPECT_EQ(layout.fileSize, file.size());
  EXPECT_EQ(layout.orgsize, kHostSize);
  EXPECT_EQ(layout.dataStart, kHostSize + 4 + (9 + 12) + (9 + 18) + (9 + 27));
  EXPECT_EQ(layout.trailerOffset, file.size() - 16);
  EXPECT_EQ(layout.dataEnd, layout.trailerOffset);
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(directory[i].name, items[i].name);
    EXPECT_EQ(directory[i].nameLen, items[i].name.size());
    EXPECT_EQ(directory[i].size, items[i].data.size());
    uint32_t offset = 0, size = 0;
    ASSERT_TRUE(Locate(directory, items[i].name, &offset, &size));
    EXPECT_EQ(file.substr(offset, size), items[i].data) << items[i].name;
  }
}

TEST(EmbedFsFormat, AcceptsAnArchiveOfNoEntriesWithAFourByteDirectory) {
  Directory directory;
  ASSERT_EQ(ReadBytes(Archive(Noise(kHostSize, 4), {}), &directory), ReadResult::kOk);
  EXPECT_TRUE(directory.IsOpen());
  EXPECT_EQ(directory.Count(), 0u);
  EXPECT_EQ(directory.GetLayout().dataStart, kHostSize + 4);
  EXPECT_EQ(directory.GetLayout().dataEnd, kHostSize + 4);
}

TEST(EmbedFsFormat, EntryOfSizeZeroTakesNoBytesSoTheNextStartsAtTheSameOffset) {
  const std::string file = Archive(Noise(kHostSize, 5), {{"a", "xyz"}, {"empty", ""}, {"b", "tail"}});
  Directory directory;
  ASSERT_EQ(ReadBytes(file, &directory), ReadResult::kOk);
  uint32_t emptyOffset = 0, emptySize = 7, nextOffset = 0, nextSize = 0;
  ASSERT_TRUE(Locate(directory, "empty", &emptyOffset, &emptySize));
  ASSERT_TRUE(Locate(directory, "b", &nextOffset, &nextSize));
  EXPECT_EQ(emptySize, 0u);
  EXPECT_EQ(emptyOffset, nextOffset);
  EXPECT_EQ(file.substr(nextOffset, nextSize), "tail");
}

TEST(EmbedFsFormat, ReadsANameOf259Bytes) {
  const std::string name(259, 'n');
  Directory directory;
  ASSERT_EQ(ReadBytes(Archive(Noise(kHostSize, 6), {{name, "data"}}), &directory), ReadResult::kOk);
  EXPECT_EQ(std::string(directory[0].name), name);
}

TEST(EmbedFsFormat, NameLengthOf260OrMoreFailsTheOpen) {
  for (uint32_t nameLen : {260u, 261u, 0xFFFFFFFFu}) {
    std::string file = Noise(kHostSize, 7) + U32(1) + U32(4) + U32(nameLen) + std::string(300, 'n') + "data";
    file += U32(kHostSize) + fixture::Magic();
    Directory directory;
    EXPECT_EQ(ReadBytes(file, &directory), ReadResult::kNameTooLong) << nameLen;
    EXPECT_FALSE(directory.IsOpen());
  }
}

TEST(EmbedFsFormat, FileShorterThan8192BytesHasNoArchiveEvenWithAValidTrailer) {
  // Directory and trailer alone: 4 + 9 + 1 + 16 = 30 bytes after the host.
  const std::string shortFile = Archive(std::string(8192 - 30 - 1, 'h'), {{"x", ""}});
  ASSERT_EQ(shortFile.size(), 8191u);
  Directory directory;
  EXPECT_EQ(ReadBytes(shortFile, &directory), ReadResult::kFileTooShort);

  const std::string exactFile = Archive(std::string(8192 - 30, 'h'), {{"x", ""}});
  ASSERT_EQ(exactFile.size(), 8192u);
  EXPECT_EQ(ReadBytes(exactFile, &directory), ReadResult::kOk);
}

TEST(EmbedFsFormat, FindsTheTrailerWhenUpTo8180BytesFollowIt) {
  const std::vector<Item> items = {{"one", Noise(100, 8)}, {"two", "2"}};
  for (size_t extra : {size_t{1}, size_t{100}, size_t{8179}, size_t{8180}}) {
    const std::string file = Archive(Noise(kHostSize, 9), items) + Noise(extra, 10);
    Directory directory;
    ASSERT_EQ(ReadBytes(file, &directory), ReadResult::kOk) << extra;
    EXPECT_EQ(directory.Count(), 2u);
    EXPECT_EQ(directory.GetLayout().trailerOffset, file.size() - extra - 16);
    EXPECT_EQ(directory.GetLayout().dataEnd, directory.GetLayout().trailerOffset);
  }
  // With 8181 bytes after it the magic's first byte has left the window.
  Directory directory;
  EXPECT_EQ(ReadBytes(Archive(Noise(kHostSize, 9), items) + Noise(8181, 10), &directory),
            ReadResult::kNoTrailer);
}

TEST(EmbedFsFormat, TheFirstMagicInTheLastWindowWinsOverTheRealTrailer) {
  // The last entry's bytes hold an earlier "trailer" whose offset points at 4 zero bytes: the reader takes
  // it and sees an archive of no entries.
  const std::string host = Noise(kHostSize, 11);
  const uint32_t dataStart = kHostSize + 4 + 9 + 5;
  const std::string fake = U32(0) + U32(dataStart) + fixture::Magic();
  Directory directory;
  ASSERT_EQ(ReadBytes(Archive(host, {{"inner", fake}}), &directory), ReadResult::kOk);
  EXPECT_EQ(directory.Count(), 0u);
  EXPECT_EQ(directory.GetLayout().trailerOffset, dataStart + 4);

  // And one whose offset is absurd makes the whole open fail, though the real trailer is sound.
  const std::string bad = U32(0xFFFFFFFF) + fixture::Magic();
  EXPECT_EQ(ReadBytes(Archive(host, {{"inner", bad}}), &directory), ReadResult::kDirectoryOffsetTooLarge);
  EXPECT_FALSE(directory.IsOpen());
}

TEST(EmbedFsFormat, FileWithoutMagicHasNoArchive) {
  Directory directory;
  EXPECT_EQ(ReadBytes(Noise(20000, 12), &directory), ReadResult::kNoTrailer);
  // The 11 characters without their zero byte are not the magic.
  std::string file = Archive(Noise(kHostSize, 13), {});
  file[file.size() - 1] = '!';
  EXPECT_EQ(ReadBytes(file, &directory), ReadResult::kNoTrailer);
}

TEST(EmbedFsFormat, TrailerWhoseOffsetFieldWouldLieBeforeTheFileFails) {
  // An 8192-byte file with the magic at window position 2: its orgsize would start 2 bytes before byte 0.
  // At position 4 orgsize is the file's first 4 bytes, and leaves no room for a directory.
  const std::pair<size_t, ReadResult> cases[] = {{2, ReadResult::kTrailerIncomplete},
                                                 {3, ReadResult::kTrailerIncomplete},
                                                 {4, ReadResult::kDirectoryOutsideFile}};
  for (const auto& [position, expected] : cases) {
    std::string file(8192, 'z');
    file.replace(position, 12, fixture::Magic());
    Directory directory;
    EXPECT_EQ(ReadBytes(file, &directory), expected) << position;
  }
}

TEST(EmbedFsFormat, DirectoryOffsetOf2GiBOrMoreFailsTheOpen) {
  std::string file = Noise(kHostSize, 14) + U32(0) + U32(0x80000000u) + fixture::Magic();
  Directory directory;
  EXPECT_EQ(ReadBytes(file, &directory), ReadResult::kDirectoryOffsetTooLarge);
}

TEST(EmbedFsFormat, DirectoryOffsetOf2GiBLessOneIsRead) {
  const uint64_t orgsize = 0x7FFFFFFFu;
  fixture::SparseSource source(orgsize + 4 + 16);
  source.Put(orgsize + 4, U32(static_cast<uint32_t>(orgsize)) + fixture::Magic());
  Directory directory;
  ASSERT_EQ(directory.Read(source), ReadResult::kOk);
  EXPECT_EQ(directory.GetLayout().orgsize, orgsize);
}

TEST(EmbedFsFormat, DirectoryOffsetAtOrPastTheTrailerFailsTheOpen) {
  const std::string host = Noise(kHostSize, 15);
  for (uint32_t orgsize : {kHostSize + 1, kHostSize + 4, 0x7FFFFFF0u}) {
    std::string file = host + U32(0) + U32(orgsize) + fixture::Magic();
    Directory directory;
    EXPECT_EQ(ReadBytes(file, &directory), ReadResult::kDirectoryOutsideFile) << orgsize;
  }
}

TEST(EmbedFsFormat, CountBeyondWhatTheFileCanHoldFailsBeforeAnyTableIsAllocated) {
  // Had the reader asked for 0xFFFFFFFF entries, AddressSanitizer would report an allocation of terabytes.
  const std::string host = Noise(kHostSize, 16);
  Directory directory;
  EXPECT_EQ(ReadBytes(host + U32(0xFFFFFFFFu) + U32(kHostSize) + fixture::Magic(), &directory),
            ReadResult::kCountTooLarge);

  // 45 bytes between count and trailer hold five records of empty names, not six.
  const std::string fiveEmpty = fixture::Record(0, "") + fixture::Record(0, "") + fixture::Record(0, "") +
                                fixture::Record(0, "") + fixture::Record(0, "");
  EXPECT_EQ(ReadBytes(host + U32(6) + fiveEmpty + U32(kHostSize) + fixture::Magic(), &directory),
            ReadResult::kCountTooLarge);
  EXPECT_EQ(ReadBytes(host + U32(5) + fiveEmpty + U32(kHostSize) + fixture::Magic(), &directory),
            ReadResult::kOk);
  EXPECT_EQ(directory.Count(), 5u);
  // 53 bytes, 8 of them data, still hold only five.
  EXPECT_EQ(ReadBytes(host + U32(6) + fiveEmpty + "12345678" + U32(kHostSize) + fixture::Magic(), &directory),
            ReadResult::kCountTooLarge);
}

TEST(EmbedFsFormat, RecordsThatRunIntoTheTrailerFailTheOpen) {
  // Two records fit by the count bound, but the second's name runs into the trailer.
  const std::string host = Noise(kHostSize, 17);
  const std::string file =
      host + U32(2) + fixture::Record(0, "a") + U32(0) + U32(20) + "bb" + U32(kHostSize) + fixture::Magic();
  Directory directory;
  EXPECT_EQ(ReadBytes(file, &directory), ReadResult::kDirectoryPastTrailer);
}

TEST(EmbedFsFormat, SizesRunningPastTheTrailerFailTheOpen) {
  const std::string host = Noise(kHostSize, 18);
  // One byte more than the data holds.
  std::string file = host + U32(1) + fixture::Record(6, "a") + "12345" + U32(kHostSize) + fixture::Magic();
  Directory directory;
  EXPECT_EQ(ReadBytes(file, &directory), ReadResult::kDataPastTrailer);

  // Sizes that only add up to the data's 16 bytes when the sum wraps around at 32 bits.
  file = host + U32(2) + fixture::Record(0xFFFFFFFFu, "a") + fixture::Record(17, "b") + Noise(16, 19) +
         U32(kHostSize) + fixture::Magic();
  EXPECT_EQ(ReadBytes(file, &directory), ReadResult::kDataPastTrailer);
  file = host + U32(2) + fixture::Record(0x80000000u, "a") + fixture::Record(0x80000000u, "b") +
         U32(kHostSize) + fixture::Magic();
  EXPECT_EQ(ReadBytes(file, &directory), ReadResult::kDataPastTrailer);
  EXPECT_FALSE(directory.IsOpen());
}

TEST(EmbedFsFormat, FileOf4GiBOrMoreFailsInsteadOfBeingReadByItsLow32Bits) {
  // In its low 32 bits this file is 12,288 bytes long and ends in a sound archive of no entries.
  const uint64_t size = 0x100000000ull + 12288;
  fixture::SparseSource source(size);
  source.Put(12288 - 24, U32(0) + U32(0) + U32(12288 - 24) + fixture::Magic());
  source.Put(size - 24, U32(0) + U32(0) + U32(12288 - 24) + fixture::Magic());
  Directory directory;
  EXPECT_EQ(directory.Read(source), ReadResult::kFileTooLarge);
  EXPECT_EQ(source.Reads(), 0);
}

TEST(EmbedFsFormat, DirectoryTableThatCannotBeAllocatedFailsTheOpen) {
  std::ifstream overcommit("/proc/sys/vm/overcommit_memory");
  int mode = 0;
  if (overcommit >> mode && mode == 1) GTEST_SKIP() << "this machine grants any allocation";
  // A 4 GiB - 1 file whose count is as large as the space before the trailer can hold: about 477 million
  // records, a table of more than 100 GiB.
  const uint64_t size = 0xFFFFFFFFu;
  const uint64_t trailerOffset = size - 16;
  const uint32_t count = static_cast<uint32_t>((trailerOffset - 4) / 9);
  fixture::SparseSource source(size);
  source.Put(0, U32(count));
  source.Put(trailerOffset, U32(0) + fixture::Magic());
  Directory directory;
  EXPECT_EQ(directory.Read(source), ReadResult::kOutOfMemory);
  EXPECT_FALSE(directory.IsOpen());
}

TEST(EmbedFsFormat, AFailedReadAnywhereFailsTheOpenAndLeavesNothingOpen) {
  const std::string file =
      Archive(Noise(kHostSize, 20), {{"patchw32.dll", Noise(300, 21)}, {"notes.rtf", "x"}, {"p.rtp", "yy"}});
  MemorySource counting(file);
  Directory directory;
  ASSERT_EQ(directory.Read(counting), ReadResult::kOk);
  const int reads = counting.Reads();
  // tail, marker, orgsize, count, then a header and a name per record.
  EXPECT_EQ(reads, 4 + 2 * 3);
  for (int failing = 0; failing < reads; ++failing) {
    MemorySource source(file);
    source.FailRead(failing);
    EXPECT_EQ(directory.Read(source), ReadResult::kReadFailed) << "read " << failing;
    EXPECT_FALSE(directory.IsOpen());
    EXPECT_EQ(directory.Count(), 0u);
  }
  MemorySource noSize(file);
  noSize.FailSize();
  EXPECT_EQ(directory.Read(noSize), ReadResult::kSizeUnknown);
}

// A file that shows the magic in its tail but something else when the marker is read again.
class ChangingSource : public MemorySource {
 public:
  using MemorySource::MemorySource;
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length) override {
    if (!MemorySource::ReadAt(offset, buffer, length)) return false;
    if (Reads() == 2) static_cast<char*>(buffer)[0] = 'X';
    return true;
  }
};

TEST(EmbedFsFormat, MarkerThatIsGoneWhenReadAgainFailsTheOpen) {
  ChangingSource source(Archive(Noise(kHostSize, 23), {{"a", "b"}}));
  Directory directory;
  EXPECT_EQ(directory.Read(source), ReadResult::kMarkerMismatch);
}

TEST(EmbedFsFormat, OpenReadsOnlyTheTailAndTheDirectoryWhateverThePayload) {
  const std::vector<Item> small = {{"patchw32.dll", Noise(10, 24)}, {"z.rtp", Noise(20, 25)}};
  const std::vector<Item> large = {{"patchw32.dll", Noise(3000000, 24)}, {"z.rtp", Noise(5000000, 25)}};
  const std::string directoryBytes = fixture::Directory(small);
  const std::string smallFile = Archive(Noise(kHostSize, 26), small);
  const std::string largeFile = Archive(Noise(kHostSize, 26), large);
  MemorySource smallSource(smallFile);
  MemorySource largeSource(largeFile);
  Directory a, b;
  ASSERT_EQ(a.Read(smallSource), ReadResult::kOk);
  ASSERT_EQ(b.Read(largeSource), ReadResult::kOk);
  // The tail window, the marker and orgsize inside it again, and the directory.
  const uint64_t expected = 8192 + 12 + 4 + directoryBytes.size();
  EXPECT_EQ(smallSource.BytesRead(), expected);
  EXPECT_EQ(largeSource.BytesRead(), expected);
  for (const auto& range : largeSource.Ranges()) {
    const bool inTail = range.first >= largeFile.size() - 8192;
    const bool inDirectory = range.first >= kHostSize && range.second <= b.GetLayout().dataStart;
    EXPECT_TRUE(inTail || inDirectory) << range.first << "-" << range.second;
  }
}

TEST(EmbedFsFormat, NameEndsAtItsFirstZeroByteOrAtItsStoredLength) {
  const std::string host = Noise(kHostSize, 27);
  // "ab\0cd": the name is "ab", its stored length stays 5. A terminator that is not zero is ignored.
  std::string file = host + U32(2) + U32(1) + U32(5) + std::string("ab\0cd", 5) + std::string(1, '\0') +
                     U32(1) + U32(3) + "xyz" + "!" + "12" + U32(kHostSize) + fixture::Magic();
  Directory directory;
  ASSERT_EQ(ReadBytes(file, &directory), ReadResult::kOk);
  EXPECT_EQ(std::string(directory[0].name), "ab");
  EXPECT_EQ(directory[0].nameLen, 5u);
  EXPECT_EQ(std::string(directory[1].name), "xyz");
}

TEST(EmbedFsFormat, ReadingAgainReplacesTheDirectoryAndAFailureEmptiesIt) {
  Directory directory;
  ASSERT_EQ(ReadBytes(Archive(Noise(kHostSize, 28), {{"a", "1"}, {"b", "2"}}), &directory), ReadResult::kOk);
  ASSERT_EQ(directory.Count(), 2u);
  EXPECT_EQ(ReadBytes(Noise(9000, 29), &directory), ReadResult::kNoTrailer);
  EXPECT_FALSE(directory.IsOpen());
  EXPECT_EQ(directory.Count(), 0u);
}

TEST(EmbedFsFormat, LookupTakesTheFirstMatchAndSumsTheSizesBeforeIt) {
  const std::string file =
      Archive(Noise(kHostSize, 30), {{"Same", "first"}, {"other", "123"}, {"SAME", "second"}, {"last", ""}});
  Directory directory;
  ASSERT_EQ(ReadBytes(file, &directory), ReadResult::kOk);
  const auto sameIgnoringCase = [](const embedfs::Entry& entry) {
    std::string lowered(entry.name);
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lowered == "same";
  };
  uint32_t offset = 0, size = 0, index = 9;
  ASSERT_TRUE(embedfs::FindEntry(directory.Entries(), directory.Count(), directory.GetLayout().dataStart,
                                 sameIgnoringCase, &offset, &size, &index));
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(file.substr(offset, size), "first");

  ASSERT_TRUE(Locate(directory, "SAME", &offset, &size));
  EXPECT_EQ(file.substr(offset, size), "second");
  ASSERT_TRUE(Locate(directory, "last", &offset, &size));
  EXPECT_EQ(offset, directory.GetLayout().dataEnd);
  EXPECT_FALSE(Locate(directory, "missing", &offset, &size));
  EXPECT_FALSE(embedfs::FindEntry(static_cast<const embedfs::Entry*>(nullptr), 0, 0, sameIgnoringCase,
                                  &offset, &size));
}

// A PE host whose security directory (written for PE32 and for PE32+) places a certificate table.
std::string PeHost(uint32_t tableOffset, uint32_t tableSize) {
  std::string host = Noise(kHostSize, 40);
  const auto put = [&host](size_t at, const std::string& bytes) { host.replace(at, bytes.size(), bytes); };
  put(0, "MZ");
  put(0x3C, U32(0x80));
  put(0x80, std::string("PE\0\0", 4));
  put(0x94, std::string("\xF0\x00", 2));          // the optional header's 240 bytes
  put(0x98, "\x0B\x01");                          // PE32
  put(0xF4, U32(16));                             // NumberOfRvaAndSizes, PE32
  put(0x104, U32(16));                            // PE32+
  put(0x118, U32(tableOffset) + U32(tableSize));  // security directory, PE32
  put(0x128, U32(tableOffset) + U32(tableSize));  // PE32+
  return host;
}

struct SignedCase {
  const char* label;
  uint32_t tableSize;
  int32_t shift;  // the recorded offset moves by shift, the size by -shift: the end stays in 32 bits
  size_t patchAt;
  std::string patch;  // host bytes overwritten afterwards
  ReadResult expected;
  bool trusted;  // FindSignature yields the table
};

TEST(EmbedFsFormat, SignedFileIsReadBeforeACertificateTableThatEndsIt) {
  const SignedCase cases[] = {
      {"LargeTable", 9000, 0, 0, "", ReadResult::kOk, true},
      {"SmallTable", 100, 0, 0, "", ReadResult::kOk, true},
      {"Pe32Plus", 9000, 0, 0x98, "\x0B\x02", ReadResult::kOk, true},
      {"NotAtTheEnd", 9000, 0, 0x11C, U32(8999), ReadResult::kNoTrailer, false},
      {"LargerThanTheFile", 9000, -0x10000000, 0, "", ReadResult::kNoTrailer, false},
      {"IntoTheTrailer", 9000, -8, 0, "", ReadResult::kNoTrailer, false},
      {"SmallIntoTheTrailer", 100, -8, 0, "", ReadResult::kOk, false},
      {"HeadersPastTheFile", 9000, 0, 0x3C, U32(0xFFFFFFF0u), ReadResult::kNoTrailer, false},
      {"NoSecurityDirectory", 9000, 0, 0xF4, U32(4), ReadResult::kNoTrailer, false},
      {"OptionalHeaderTooShort", 9000, 0, 0x94, "\x87", ReadResult::kNoTrailer, false},
  };
  const std::vector<Item> items = {{"patch.rtp", Noise(3000, 41)}};
  // The table starts right after the trailer.
  const uint32_t table = static_cast<uint32_t>(Archive(PeHost(0, 0), items).size());
  for (const SignedCase& c : cases) {
    SCOPED_TRACE(c.label);
    std::string file = Archive(PeHost(table + c.shift, c.tableSize - c.shift), items);
    file.replace(c.patchAt, c.patch.size(), c.patch);
    MemorySource source(file + Noise(c.tableSize, 42));
    Directory directory;
    ASSERT_EQ(directory.Read(source), c.expected);
    if (c.expected != ReadResult::kOk) continue;
    embedfs::CertificateTable found = {};
    EXPECT_EQ(embedfs::FindSignature(source, directory.GetLayout(), &found), c.trusted);
    if (!c.trusted) continue;
    EXPECT_EQ(directory.GetLayout().trailerOffset, table - 16);
    EXPECT_EQ(found.offset, table);
    EXPECT_EQ(found.size, c.tableSize);
    uint32_t offset = 0, size = 0;
    ASSERT_TRUE(Locate(directory, "patch.rtp", &offset, &size));
    EXPECT_EQ(file.substr(offset, size), items[0].data);
  }
}

TEST(EmbedFsFormat, EveryFailureHasAnOperatorSentence) {
  for (int r = static_cast<int>(ReadResult::kOk); r <= static_cast<int>(ReadResult::kDataPastTrailer); ++r) {
    EXPECT_STRNE(embedfs::DescribeReadResult(static_cast<ReadResult>(r)), "unknown result") << r;
  }
}

}  // namespace
