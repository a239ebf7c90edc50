// The patch file's layout: what the writer lays down reads back the same, and every damaged, truncated,
// foreign or unsafe patch is refused with error 9 (8 for another format version), never a crash.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/apply/Errors.h"
#include "engine/base/Crc32c.h"
#include "engine/base/Varint.h"
#include "engine/format/PatchFormat.h"

namespace {

using enginetest::RandomBytes;
using enginetest::View;

using Streams = std::vector<uint8_t>[rtp::kStreamCount];

const Streams kNoneOffered{};

// `offered`: the streams the directory may hold (none unless given).
std::string Write(const rtp::Patch& patch, const Streams& streams, const Streams& offered = kNoneOffered) {
  rtp::MemorySink sink;
  uint64_t size = 0;
  EXPECT_TRUE(rtp::WritePatch(patch, streams, offered, sink, &size));
  return std::string(sink.bytes.begin(), sink.bytes.end());
}

// A patch that writes new files of these names, without streams.
std::string NewFiles(const std::vector<std::string>& names) {
  rtp::Patch patch;
  for (const std::string& name : names) patch.files.push_back({rtp::FileKind::Write, name, 0, 0, 0});
  Streams none;
  return Write(patch, none);
}

uint32_t ParseError(const std::string& patch, std::string* detail = nullptr) {
  rtp::Patch parsed;
  rtp::FormatError error;
  rtp::MemorySource source(View(patch));
  if (rtp::ParsePatch(source, &parsed, &error)) return 0;
  if (detail) *detail = error.detail;
  return error.number;
}

// A patch built between two small clients: a changed executable, a deleted and an added file.
class PatchFormat : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string exe = RandomBytes(1, 5000);
    std::string newExe = exe;
    newExe.replace(1000, 4, "ZAV!");
    patch =
        enginetest::BuildBetween(work.path(), {{"bin\\zav.exe", exe}, {"old\\gone.dat", "gone"}},
                                 {{"bin\\zav.exe", newExe + "tail"}, {"data\\new.pak", RandomBytes(2, 300)}});
    ASSERT_EQ(ParseError(patch), 0u);
  }

  enginetest::TempFolder work;
  std::string patch;
};

TEST(PatchFormatLayout, WrittenPatchReadsBackFieldForField) {
  rtp::Patch patch;
  patch.sources = {{"bin\\zav.exe", 70000}, {"bin\\zav.ini", 12}, {"data\\a.pak", 5}};
  patch.sources[0].translated = true;
  patch.sources[0].map.newImageBase = 0x400000;
  patch.sources[0].map.starts = {0x1000, 0x8000};
  patch.sources[0].map.shifts = {16, -32};
  patch.files = {{rtp::FileKind::Delete, "data\\a.pak", 3, 0, 0},
                 {rtp::FileKind::Write, "bin\\zav.exe", 1, 69000, 0x12345678},  // smaller than before
                 {rtp::FileKind::Write, "bin\\ZAV.INI", 2, 40, 7},              // renamed in case
                 {rtp::FileKind::Write, "new.txt", 0, 0, 0}};
  Streams streams;
  streams[rtp::kLiterals] = {1, 2, 3};
  streams[rtp::kMoves] = {9};
  patch.streams[rtp::kLiterals].storedSize = patch.streams[rtp::kLiterals].decodedSize = 3;
  patch.streams[rtp::kMoves].storedSize = patch.streams[rtp::kMoves].decodedSize = 1;
  const std::string bytes = Write(patch, streams);
  EXPECT_EQ(bytes.compare(0, 10, std::string("TESPATCH\x07\x00", 10)), 0);

  rtp::Patch parsed;
  rtp::FormatError error;
  rtp::MemorySource source(View(bytes));
  ASSERT_TRUE(rtp::ParsePatch(source, &parsed, &error)) << error.detail;
  ASSERT_EQ(parsed.sources.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(parsed.sources[i].name, patch.sources[i].name);
    EXPECT_EQ(parsed.sources[i].size, patch.sources[i].size);
  }
  EXPECT_EQ(parsed.sources[2].start, 70012u);
  EXPECT_TRUE(parsed.sources[0].translated);
  EXPECT_EQ(parsed.sources[0].map.newImageBase, 0x400000u);
  EXPECT_EQ(parsed.sources[0].map.starts, patch.sources[0].map.starts);
  EXPECT_EQ(parsed.sources[0].map.shifts, patch.sources[0].map.shifts);
  ASSERT_EQ(parsed.files.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(parsed.files[i].kind, patch.files[i].kind) << i;
    EXPECT_EQ(parsed.files[i].name, patch.files[i].name) << i;
    EXPECT_EQ(parsed.files[i].oldSource, patch.files[i].oldSource) << i;
    EXPECT_EQ(parsed.files[i].newSize, patch.files[i].newSize) << i;
    EXPECT_EQ(parsed.files[i].newCrc, patch.files[i].newCrc) << i;
  }
  EXPECT_EQ(parsed.WrittenCount(), 3u);
  EXPECT_EQ(parsed.streams[rtp::kMoves].offset + 1, parsed.streams[rtp::kLiterals].offset);
  EXPECT_EQ(parsed.streams[rtp::kLiterals].offset + 3, bytes.size());
  // Differences in context code the difference bytes only.
  rtp::Patch misplaced = patch;
  misplaced.streams[rtp::kMoves].codec = rtp::Codec::Differences;
  EXPECT_EQ(ParseError(Write(misplaced, streams)), rtp::kErrCorrupt);

  // Offered a stream that costs less held in the directory, the writer holds it there.
  Streams offered;
  streams[rtp::kLiterals] = offered[rtp::kLiterals] = std::vector<uint8_t>(300, 'a');
  patch.streams[rtp::kLiterals].storedSize = patch.streams[rtp::kLiterals].decodedSize = 300;
  const std::string holding = Write(patch, streams, offered);
  rtp::MemorySource holdingSource(View(holding));
  ASSERT_TRUE(rtp::ParsePatch(holdingSource, &parsed, &error)) << error.detail;
  EXPECT_EQ(parsed.streams[rtp::kLiterals].codec, rtp::Codec::InDirectory);
  EXPECT_EQ(parsed.held[rtp::kLiterals], offered[rtp::kLiterals]);
  EXPECT_EQ(parsed.streams[rtp::kMoves].offset + 1, holding.size());
}

TEST_F(PatchFormat, EveryTruncationIsRefusedAsCorrupt) {
  for (size_t length = 0; length < patch.size(); ++length)
    ASSERT_EQ(ParseError(patch.substr(0, length)), rtp::kErrCorrupt) << "length " << length;
}

TEST_F(PatchFormat, EveryFlippedBitIsRefusedAndOnlyTheVersionFieldGivesError8) {
  for (size_t at = 0; at < patch.size(); ++at) {
    for (int bit = 0; bit < 8; bit += 3) {
      std::string damaged = patch;
      damaged[at] = static_cast<char>(damaged[at] ^ (1 << bit));
      // A version still read (3 to 2) leaves the header's checksum wrong.
      const int version = static_cast<uint8_t>(damaged[8]) | static_cast<uint8_t>(damaged[9]) << 8;
      const bool readVersion = version >= rtp::kOldestVersion && version <= rtp::kFormatVersion;
      const uint32_t expected =
          (at == 8 || at == 9) && !readVersion ? rtp::kErrFormatVersion : rtp::kErrCorrupt;
      ASSERT_EQ(ParseError(damaged), expected) << "byte " << at << " bit " << bit;
    }
  }
}

TEST_F(PatchFormat, AnotherFormatVersionIsError8EvenWhenTheRestIsCut) {
  std::string next = patch;
  next[8] = 8;
  std::string detail;
  EXPECT_EQ(ParseError(next.substr(0, 10), &detail), rtp::kErrFormatVersion);
  EXPECT_NE(detail.find("version 8"), std::string::npos) << detail;
  // A patch of the first format, committed beside the tests: another version to this reader.
  std::unique_ptr<rtp::Source> first;
  ASSERT_EQ(rtp::OpenHostFile(std::string(PATCHENGINE_CORPUS "/format-1-patch"), &first), rtp::FsStatus::Ok);
  rtp::Patch parsed;
  rtp::FormatError error;
  EXPECT_FALSE(rtp::ParsePatch(*first, &parsed, &error));
  EXPECT_EQ(error.number, rtp::kErrFormatVersion) << error.detail;
}

TEST(PatchNumbers, FixedWidthNumbersKeepEveryByte) {
  std::vector<uint8_t> bytes;
  rtp::PutFixed32(&bytes, 0x89ABCDEFu);
  rtp::PutFixed64(&bytes, 0x123456789ABCDEF0ull);
  rtp::VarintReader in(bytes.data(), bytes.size());
  EXPECT_EQ(in.Fixed32(), 0x89ABCDEFu);
  EXPECT_EQ(in.Fixed64(), 0x123456789ABCDEF0ull);
  EXPECT_TRUE(in.Ok() && in.AtEnd());
}

TEST(PatchFormatForeign, FilesThatAreNoPatchAreError9AndNoByteBeyondThemIsRead) {
  EXPECT_EQ(ParseError(""), rtp::kErrCorrupt);
  EXPECT_EQ(ParseError("TESPATC"), rtp::kErrCorrupt);
  EXPECT_EQ(ParseError(RandomBytes(3, 4096)), rtp::kErrCorrupt);
  EXPECT_EQ(ParseError("MZ" + RandomBytes(4, 100)), rtp::kErrCorrupt);
  const std::unique_ptr<uint8_t[]> bytes(new uint8_t[9]);  // exactly: a read past it is caught
  std::memcpy(bytes.get(), "TESPATCH\x02", 9);
  rtp::Patch parsed;
  rtp::FormatError error;
  rtp::MemorySource source(rtp::ByteView(bytes.get(), 9));
  EXPECT_FALSE(rtp::ParsePatch(source, &parsed, &error));
  EXPECT_EQ(error.number, rtp::kErrCorrupt) << error.detail;
}

TEST_F(PatchFormat, BytesAfterTheLastStreamAreRefused) {
  EXPECT_EQ(ParseError(patch + "x"), rtp::kErrCorrupt);
}

TEST(PatchFormatLayout, AHandWrittenPatchReadsWithItsReservedFieldZeroAndAKnownCodecOnly) {
  // No sources, no files, no streams (their checksum: that of nothing), no translations, reserved.
  const auto sealed = [](uint8_t reserved, char codec = '\0') {
    const std::string directory = std::string(8, '\0') + std::string(1, static_cast<char>(reserved));
    std::string bytes = std::string("TESPATCH\x02\x00", 10) + codec + "\x09\x09" + "crc!" + directory;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
    rtp::WriteU32(reinterpret_cast<uint8_t*>(&bytes[13]),
                  rtp::Crc32c(rtp::ByteView(p + 17, 9), rtp::Crc32c(rtp::ByteView(p, 13))));
    return bytes;
  };
  EXPECT_EQ(ParseError(sealed(0)), 0u);
  std::string detail;
  EXPECT_EQ(ParseError(sealed(1), &detail), rtp::kErrCorrupt);
  EXPECT_NE(detail.find("reserved"), std::string::npos) << detail;
  EXPECT_EQ(ParseError(sealed(0, '\x02')), rtp::kErrCorrupt) << "no codec has number 2";
}

TEST(PatchFormatNames, NamesThatLeaveTheClientFolderOrCollideOnWindowsAreRefused) {
  for (const std::string& name : std::vector<std::string>{"..\\evil.dll",
                                                          "bin\\..\\..\\evil.dll",
                                                          "\\windows\\evil.dll",
                                                          "C:\\evil.dll",
                                                          "bin\\\\zav.exe",
                                                          "bin/zav.exe",
                                                          "zav.exe\\",
                                                          ".\\zav.exe",
                                                          "zav.",
                                                          "zav ",
                                                          "a\\b.\\c",
                                                          "con<1>",
                                                          "a|b",
                                                          "what?",
                                                          "star*",
                                                          "quote\"d",
                                                          "tab\there",
                                                          "del\x7F",
                                                          std::string("\xC4\xE3.txt"),  // GBK, not UTF-8
                                                          std::string("\xC0\xAF"),      // an overlong '/'
                                                          std::string("\xED\xA0\x80"),  // a surrogate
                                                          std::string("\xE4\xB8"),      // cut short
                                                          std::string("a\x80"),
                                                          std::string(1024, 'a'),
                                                          ""}) {
    EXPECT_FALSE(rtp::IsValidName(name)) << name;
    EXPECT_EQ(ParseError(NewFiles({name})), rtp::kErrCorrupt) << name;
  }
  for (const std::string& name : std::vector<std::string>{
           "zav.exe", "bin\\zav.exe", "Data Files\\a b.pak", ".hidden", std::string(1023, 'a'),
           "\xE6\x95\xB0\xE6\x8D\xAE\\\xE5\x9C\xB0\xE5\x9B\xBE.pak", "\xF0\x9F\x8E\xAE.txt",
           "script\\compiled.code", "a~1\\{x}[y]#$%&'()+,;=@^`!"}) {
    EXPECT_TRUE(rtp::IsValidName(name)) << name;
    EXPECT_EQ(ParseError(NewFiles({name})), 0u) << name;
  }
}

TEST(PatchFormatNames, AFileNamedTwiceIgnoringCaseIsRefused) {
  std::string detail;
  EXPECT_EQ(ParseError(NewFiles({"Bin\\Zav.exe", "bin\\ZAV.EXE"}), &detail), rtp::kErrCorrupt);
  EXPECT_NE(detail.find("twice"), std::string::npos) << detail;
  EXPECT_EQ(ParseError(NewFiles({"Z", "z"})), rtp::kErrCorrupt);
}

// Old files "a" and "C" named by hash (of 4 and 2 bytes), "b" by name; the patch writes "a" and deletes
// "C".
rtp::Patch HashedPatch() {
  rtp::Patch patch;
  patch.sources = {{"a", 10}, {"b", 20}, {"C", 30}};
  patch.sources[2].hashBytes = 2;
  for (rtp::SourceFile& source : patch.sources)
    source.nameHash = rtp::NameHash(source.name, source.hashBytes);
  patch.sources[0].byHash = patch.sources[2].byHash = true;
  patch.files = {{rtp::FileKind::Write, "a", 1, 11, 0}, {rtp::FileKind::Delete, "C", 3, 0, 0}};
  return patch;
}

TEST(PatchFormatNames, FilesNamedByHashAreFoundAmongTheClientFilesOnce) {
  const Streams none;
  rtp::Patch parsed;
  rtp::FormatError error;
  const std::string bytes = Write(HashedPatch(), none);
  rtp::MemorySource source(View(bytes));
  ASSERT_TRUE(rtp::ParsePatch(source, &parsed, &error)) << error.detail;
  EXPECT_EQ(parsed.sources[1].name, "b");
  EXPECT_TRUE(parsed.sources[0].name.empty() && parsed.files[1].name.empty());
  // Every client file has the size of "C" (30 bytes) but "c", which has `cSize`.
  const auto sizes = [](uint64_t cSize) {
    return
        [cSize](const std::string& name, uint64_t* size) { return *size = name == "c" ? cSize : 30, true; };
  };
  EXPECT_FALSE(rtp::ResolveNames(&parsed, {"b", "A"}, sizes(30), &error));  // "C" is missing
  EXPECT_EQ(error.number, rtp::kErrFileNotFound);
  EXPECT_FALSE(rtp::ResolveNames(&parsed, {"A", "c", "C", "b"}, sizes(30), &error));  // two of its size
  ASSERT_TRUE(rtp::ResolveNames(&parsed, {"x\\b", "A", "b", "c", "C"}, sizes(31), &error)) << error.detail;
  EXPECT_EQ(parsed.files[0].name, "A");
  EXPECT_EQ(parsed.files[1].name, "C");
}

TEST(PatchFormatNames, AHashThatCouldAnswerForTwoFilesIsRefused) {
  const Streams none;
  std::vector<rtp::Patch> damaged(5, HashedPatch());
  damaged[0].sources[2].nameHash = rtp::LowBytes(damaged[0].sources[0].nameHash, 2);  // two old files
  damaged[1].sources[0].nameHash = rtp::NameHash("B");                                // and a named one
  damaged[2].files.push_back({rtp::FileKind::Write, "A", 0, 0, 0});                   // and a new file
  damaged[3].files.push_back({rtp::FileKind::Write, "a", 1, 0, 0});                   // one replaced twice
  damaged[4].sources[2].nameHash = rtp::NameHash("b", 2);  // a short hash and a named one
  for (size_t i = 0; i < damaged.size(); ++i)
    EXPECT_EQ(ParseError(Write(damaged[i], none)), rtp::kErrCorrupt) << i;
}

TEST(PatchFormatCost, EveryWrittenFileIsStagedAtOnceAndSmallOldFilesAreKept) {
  const uint64_t small = rtp::kInPlaceLimit, large = rtp::kInPlaceLimit + 1;
  rtp::Patch patch;
  patch.sources = {{"big.pak", 3 * large}, {"small.ini", 100}, {"gone.txt", 50}, {"gone.pak", large}};
  patch.files = {{rtp::FileKind::Delete, "gone.pak", 4, 0, 0},
                 {rtp::FileKind::Delete, "gone.txt", 3, 0, 0},
                 {rtp::FileKind::Write, "big.pak", 1, 2 * large, 0},
                 {rtp::FileKind::Write, "small.ini", 2, small, 0},
                 {rtp::FileKind::Write, "new.pak", 0, 7, 0}};
  const rtp::PatchCost cost = rtp::ComputeCost(patch);
  EXPECT_EQ(cost.files, 5u);
  EXPECT_EQ(cost.newSize, 2 * large + small + 7);
  EXPECT_EQ(cost.oldSize, 3 * large + 100 + 50 + large);
  // The written files, and copies of the small old ones rewritten in place or deleted at once.
  EXPECT_EQ(cost.biggest, 2 * large + small + 7 + 100 + 50);
  patch.files[2].newSize = uint64_t{5} << 30;  // beyond what the cost can carry
  EXPECT_EQ(rtp::ComputeCost(patch).biggest, 0xFFFFFFFFu);
}

}  // namespace
