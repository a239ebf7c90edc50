// The patch file's layout: what the writer lays down reads back the same, and every damaged, truncated,
// foreign or unsafe patch is refused with error 9 (or 8 for another format version), never a crash.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/build/Builder.h"
#include "engine/format/Delta.h"
#include "engine/apply/Errors.h"
#include "engine/base/Varint.h"
#include "engine/format/PatchFormat.h"

namespace {

using enginetest::RandomBytes;
using enginetest::View;

// Payload bytes for entries made from temporaries: kept for the whole test program.
rtp::ByteView Kept(const std::string& bytes) {
  static std::deque<std::string> kept;
  kept.push_back(bytes);
  return View(kept.back());
}

std::string Write(const rtp::PatchHeader& header, const std::vector<rtp::PatchEntry>& entries) {
  rtp::Buffer out;
  EXPECT_TRUE(rtp::WritePatch(header, entries, &out));
  return std::string(reinterpret_cast<const char*>(out.data()), out.size());
}

rtp::PatchEntry FileEntry(rtp::Op op, const std::string& name, const std::string& before,
                          const std::string& after, const std::string& payload) {
  rtp::PatchEntry entry;
  entry.op = op;
  entry.name = name;
  if (op != rtp::Op::Add) {
    entry.oldSize = static_cast<uint32_t>(before.size());
    entry.oldCrc = rtp::Crc32(View(before));
  }
  if (op != rtp::Op::Delete) {
    entry.newSize = static_cast<uint32_t>(after.size());
    entry.newCrc = rtp::Crc32(View(after));
  }
  entry.payload = Kept(payload);
  return entry;
}

rtp::PatchEntry NoticeEntry(uint8_t id, const std::string& payload) {
  rtp::PatchEntry entry;
  entry.op = rtp::Op::Notice;
  entry.noticeId = id;
  entry.payload = Kept(payload);
  return entry;
}

// After editing header fields, makes both checksums right again, so only the edit is wrong.
void Reseal(std::string* patch) {
  uint8_t* p = reinterpret_cast<uint8_t*>(&(*patch)[0]);
  rtp::WriteU32(p + 32, rtp::Crc32(rtp::ByteView(p + 40, patch->size() - 40)));
  rtp::WriteU32(p + 36, rtp::Crc32(rtp::ByteView(p, 36)));
}

uint32_t ParseError(const std::string& patch, std::string* detail = nullptr) {
  rtp::Patch parsed;
  rtp::FormatError error;
  if (rtp::ParsePatch(View(patch), &parsed, &error)) return 0;
  if (detail) *detail = error.detail;
  return error.number;
}

class PatchFormat : public ::testing::Test {
 protected:
  void SetUp() override {
    oldExe = RandomBytes(1, 5000);
    newExe = oldExe;
    newExe.replace(1000, 4, "ZAV!");
    newExe += "tail";
    ASSERT_TRUE(rtp::MakeDelta(View(oldExe), View(newExe), &delta));
    deltaBytes.assign(delta.begin(), delta.end());
    added = RandomBytes(2, 300);
    ini = "build=4536\r\n";
    oldIni = "build=4526\r\n";
    entries = {
        FileEntry(rtp::Op::Delete, "old\\gone.dat", "gone", "", ""),
        FileEntry(rtp::Op::Delta, "bin\\zav.exe", oldExe, newExe, deltaBytes),
        NoticeEntry(rtp::kIdWarning, "careful"),
        FileEntry(rtp::Op::Replace, "common.ini", oldIni, ini, ini),
        NoticeEntry(rtp::kIdProgress, std::string("\x00\x90\x00\x00", 4)),
        FileEntry(rtp::Op::Add, "data\\new.pak", "", added, added),
        NoticeEntry(rtp::kIdLockedReplace, ""),
    };
    entries[3].delayMs = 250;
    header.flags = rtp::kFlagBiggest | rtp::kFlagAnnounce;
    header.biggest = 52428800;
    header.announced = 7;
    patch = Write(header, entries);
  }

  std::string oldExe, newExe, deltaBytes, added, ini, oldIni;
  std::vector<uint8_t> delta;
  std::vector<rtp::PatchEntry> entries;
  rtp::PatchHeader header;
  std::string patch;
};

TEST(PatchCrc32, MatchesTheStandardCheckValueAndContinuesAcrossPieces) {
  EXPECT_EQ(rtp::Crc32(View("123456789")), 0xCBF43926u);
  EXPECT_EQ(rtp::Crc32(rtp::ByteView()), 0u);
  const std::string bytes = RandomBytes(7, 1000);
  const uint32_t first = rtp::Crc32(rtp::ByteView(View(bytes).data, 333));
  EXPECT_EQ(rtp::Crc32(rtp::ByteView(View(bytes).data + 333, 667), first), rtp::Crc32(View(bytes)));
}

TEST_F(PatchFormat, WrittenPatchReadsBackEntryForEntry) {
  EXPECT_EQ(patch.compare(0, 8, "TESPATCH"), 0);
  rtp::Patch parsed;
  rtp::FormatError error;
  ASSERT_TRUE(rtp::ParsePatch(View(patch), &parsed, &error)) << error.detail;
  EXPECT_EQ(parsed.header.flags, header.flags);
  EXPECT_EQ(parsed.header.biggest, 52428800u);
  EXPECT_EQ(parsed.header.announced, 7u);
  ASSERT_EQ(parsed.entries.size(), entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const rtp::PatchEntry& a = entries[i];
    const rtp::PatchEntry& b = parsed.entries[i];
    EXPECT_EQ(a.op, b.op) << i;
    EXPECT_EQ(a.noticeId, b.noticeId) << i;
    EXPECT_EQ(a.name, b.name) << i;
    EXPECT_EQ(a.oldSize, b.oldSize) << i;
    EXPECT_EQ(a.oldCrc, b.oldCrc) << i;
    EXPECT_EQ(a.newSize, b.newSize) << i;
    EXPECT_EQ(a.newCrc, b.newCrc) << i;
    EXPECT_EQ(a.delayMs, b.delayMs) << i;
    ASSERT_EQ(a.payload.size, b.payloadSize) << i;
    EXPECT_EQ(0, std::memcmp(a.payload.data, patch.data() + b.payloadOffset, a.payload.size)) << i;
  }
  EXPECT_EQ(parsed.FileCount(), 4u);
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
      const uint32_t expected = (at == 8 || at == 9) ? rtp::kErrFormatVersion : rtp::kErrCorrupt;
      ASSERT_EQ(ParseError(damaged), expected) << "byte " << at << " bit " << bit;
    }
  }
}

TEST_F(PatchFormat, AnotherFormatVersionIsError8EvenWhenTheRestIsCut) {
  std::string next = patch;
  next[8] = 2;
  EXPECT_EQ(ParseError(next), rtp::kErrFormatVersion);
  std::string detail;
  EXPECT_EQ(ParseError(next.substr(0, 10), &detail), rtp::kErrFormatVersion);
  EXPECT_NE(detail.find("version 2"), std::string::npos) << detail;
  next[8] = 0;
  EXPECT_EQ(ParseError(next), rtp::kErrFormatVersion);
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

TEST(PatchFormatForeign, FilesThatAreNoPatchAreError9) {
  EXPECT_EQ(ParseError(""), rtp::kErrCorrupt);
  EXPECT_EQ(ParseError("TESPATC"), rtp::kErrCorrupt);
  EXPECT_EQ(ParseError(RandomBytes(3, 4096)), rtp::kErrCorrupt);
  EXPECT_EQ(ParseError("MZ" + RandomBytes(4, 100)), rtp::kErrCorrupt);
}

TEST_F(PatchFormat, BytesAfterTheLastEntryAreRefused) {
  std::string longer = patch + "x";
  EXPECT_EQ(ParseError(longer), rtp::kErrCorrupt);
  // Even when the header claims them as body: they are no entry.
  rtp::WriteU32(reinterpret_cast<uint8_t*>(&longer[28]), static_cast<uint32_t>(longer.size() - 40));
  Reseal(&longer);
  EXPECT_EQ(ParseError(longer), rtp::kErrCorrupt);
}

TEST_F(PatchFormat, AnEntryCountBeyondTheBodyIsRefusedWithoutAllocatingForIt) {
  std::string edited = patch;
  rtp::WriteU32(reinterpret_cast<uint8_t*>(&edited[16]), 0xFFFFFFFFu);
  Reseal(&edited);
  EXPECT_EQ(ParseError(edited), rtp::kErrCorrupt);
  rtp::WriteU32(reinterpret_cast<uint8_t*>(&edited[16]), static_cast<uint32_t>(entries.size() + 1));
  Reseal(&edited);
  EXPECT_EQ(ParseError(edited), rtp::kErrCorrupt);
}

TEST_F(PatchFormat, UnknownOrConflictingFlagsAreRefused) {
  for (uint32_t flags : {8u, 0x80000000u, rtp::kFlagAnnounce | rtp::kFlagNoAnnounce}) {
    std::string edited = patch;
    rtp::WriteU32(reinterpret_cast<uint8_t*>(&edited[12]), flags);
    Reseal(&edited);
    EXPECT_EQ(ParseError(edited), rtp::kErrCorrupt) << flags;
  }
}

TEST(PatchFormatNames, NamesThatLeaveTheClientFolderOrCollideOnWindowsAreRefused) {
  const std::string data = "x";
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
    const std::string patch = Write(rtp::PatchHeader(), {FileEntry(rtp::Op::Add, name, "", data, data)});
    EXPECT_EQ(ParseError(patch), rtp::kErrCorrupt) << name;
  }
  for (const std::string& name : std::vector<std::string>{
           "zav.exe", "bin\\zav.exe", "Data Files\\a b.pak", ".hidden", std::string(1023, 'a'),
           "\xE6\x95\xB0\xE6\x8D\xAE\\\xE5\x9C\xB0\xE5\x9B\xBE.pak", "\xF0\x9F\x8E\xAE.txt",
           "script\\compiled.code", "a~1\\{x}[y]#$%&'()+,;=@^`!"}) {
    EXPECT_TRUE(rtp::IsValidName(name)) << name;
  }
}

TEST(PatchFormatNames, AFileNamedTwiceIgnoringCaseIsRefused) {
  const std::string data = "x";
  const std::string patch =
      Write(rtp::PatchHeader(), {FileEntry(rtp::Op::Add, "Bin\\Zav.exe", "", data, data),
                                 FileEntry(rtp::Op::Add, "bin\\ZAV.EXE", "", data, data)});
  std::string detail;
  EXPECT_EQ(ParseError(patch, &detail), rtp::kErrCorrupt);
  EXPECT_NE(detail.find("twice"), std::string::npos) << detail;
  EXPECT_EQ(ParseError(Write(rtp::PatchHeader(), {FileEntry(rtp::Op::Add, "Z", "", data, data),
                                                  FileEntry(rtp::Op::Add, "z", "", data, data)})),
            rtp::kErrCorrupt);
}

TEST(PatchFormatEntries, ADelayAndANoticeTextExactlyAtTheirLimitsAreTaken) {
  rtp::PatchEntry slow = FileEntry(rtp::Op::Add, "a", "", "x", "x");
  slow.delayMs = rtp::kMaxDelayMs;
  const std::string longest(rtp::kMaxNoticeText, 'x');
  EXPECT_EQ(ParseError(Write(rtp::PatchHeader(), {slow, NoticeEntry(9, longest)})), 0u);
  rtp::Controls controls;
  std::string error;
  EXPECT_TRUE(controls.Add("notify-detail", longest, &error)) << error;
  EXPECT_TRUE(controls.Add("delay-ms", std::to_string(rtp::kMaxDelayMs), &error)) << error;
}

TEST(PatchFormatCommitted, PatchesOfTheFirstBuilderStillReadAsVersion1) {
  for (const char* name : {"all-operations", "notices"}) {
    std::unique_ptr<rtp::Source> file;
    ASSERT_EQ(rtp::OpenHostFile(std::string(PATCHENGINE_CORPUS "/") + name, &file), rtp::FsStatus::Ok)
        << name;
    rtp::Patch parsed;
    rtp::FormatError error;
    EXPECT_TRUE(rtp::ParsePatch(*file, &parsed, &error)) << name << ": " << error.detail;
  }
}

TEST(PatchFormatForeign, NineBytesOfAPatchAreTruncatedAndNoByteBeyondThemIsRead) {
  const std::unique_ptr<uint8_t[]> bytes(new uint8_t[9]);  // exactly: a read past it is caught
  std::memcpy(bytes.get(), "TESPATCH\x01", 9);
  rtp::Patch parsed;
  rtp::FormatError error;
  EXPECT_FALSE(rtp::ParsePatch(rtp::ByteView(bytes.get(), 9), &parsed, &error));
  EXPECT_EQ(error.number, rtp::kErrCorrupt) << error.detail;
}

TEST(PatchFormatEntries, PayloadsThatDisagreeWithTheirEntryAreRefusedThoughTheBodyChecksumHolds) {
  const std::string before = "a prefix long enough to be copied; old";
  const std::string after = "a prefix long enough to be copied; new";
  std::vector<uint8_t> delta;
  ASSERT_TRUE(rtp::MakeDelta(View(before), View(after), &delta));
  ASSERT_EQ(delta[0], 0x01) << "the delta starts with a copy";
  const std::string deltaBytes(delta.begin(), delta.end());

  rtp::PatchEntry wrongCrc = FileEntry(rtp::Op::Replace, "a", before, after, after);
  wrongCrc.newCrc ^= 1;
  rtp::PatchEntry shortPayload = FileEntry(rtp::Op::Replace, "a", before, after, after.substr(1));
  rtp::PatchEntry addWithOld = FileEntry(rtp::Op::Add, "a", "", after, after);
  addWithOld.oldSize = 3;
  rtp::PatchEntry deleteWithData = FileEntry(rtp::Op::Delete, "a", before, "", "x");
  rtp::PatchEntry deltaTooLong = FileEntry(rtp::Op::Delta, "a", before, after, deltaBytes);
  deltaTooLong.newSize += 1;
  rtp::PatchEntry deltaOldTooShort = FileEntry(rtp::Op::Delta, "a", before, after, deltaBytes);
  deltaOldTooShort.oldSize = 2;
  rtp::PatchEntry slow = FileEntry(rtp::Op::Add, "a", "", after, after);
  slow.delayMs = rtp::kMaxDelayMs + 1;
  rtp::PatchEntry unknownOp = FileEntry(rtp::Op::Add, "a", "", after, after);
  unknownOp.op = static_cast<rtp::Op>(6);
  rtp::PatchEntry fileWithNoticeId = FileEntry(rtp::Op::Add, "a", "", after, after);
  fileWithNoticeId.noticeId = 3;

  for (const rtp::PatchEntry& entry : {wrongCrc, shortPayload, addWithOld, deleteWithData, deltaTooLong,
                                       deltaOldTooShort, slow, unknownOp, fileWithNoticeId})
    EXPECT_EQ(ParseError(Write(rtp::PatchHeader(), {entry})), rtp::kErrCorrupt) << rtp::OpName(entry.op);
}

TEST(PatchFormatEntries, NoticesCarryExactlyTheParameterTheirIdTakes) {
  EXPECT_EQ(ParseError(Write(rtp::PatchHeader(), {NoticeEntry(1, "warn"), NoticeEntry(3, "Error ept9"),
                                                  NoticeEntry(9, ""), NoticeEntry(5, std::string(4, '\0')),
                                                  NoticeEntry(6, std::string("\x03\0\0\0", 4)),
                                                  NoticeEntry(26, ""), NoticeEntry(200, "")})),
            0u);
  rtp::PatchEntry named = NoticeEntry(1, "warn");
  named.name = "zav.exe";
  rtp::PatchEntry sized = NoticeEntry(1, "warn");
  sized.newSize = 4;
  for (const rtp::PatchEntry& entry :
       {NoticeEntry(1, std::string("two\0parts", 9)),
        NoticeEntry(9, std::string(rtp::kMaxNoticeText + 1, 'x')), NoticeEntry(5, "abc"),
        NoticeEntry(6, "abcde"), NoticeEntry(28, "x"), NoticeEntry(0, ""), named, sized})
    EXPECT_EQ(ParseError(Write(rtp::PatchHeader(), {entry})), rtp::kErrCorrupt) << int(entry.noticeId);
}

TEST_F(PatchFormat, CostHoldsTheLargestMomentaryGrowthAndTheSizesTouched) {
  rtp::Patch parsed;
  ASSERT_TRUE(rtp::ParsePatch(View(patch), &parsed, nullptr));
  rtp::PatchCost cost = rtp::ComputeCost(parsed);
  EXPECT_EQ(cost.biggest, 52428800u);  // the override
  EXPECT_EQ(cost.files, 4u);
  EXPECT_EQ(cost.newSize, newExe.size() + ini.size() + added.size());
  EXPECT_EQ(cost.oldSize, 4 + oldExe.size() + oldIni.size());

  parsed.header.flags = 0;
  cost = rtp::ComputeCost(parsed);
  // Deleting 4 bytes first, then the new exe (5004 bytes) beside the old one is the peak.
  EXPECT_EQ(cost.biggest, newExe.size() - 4);
}

TEST(PatchFormatCost, GrowthAccumulatesAcrossFilesAndNeverGoesBelowZero) {
  const std::string a = RandomBytes(5, 1000), b = RandomBytes(6, 3000), big = RandomBytes(7, 10000);
  rtp::Patch patch;
  patch.entries = {FileEntry(rtp::Op::Add, "a", "", a, a), FileEntry(rtp::Op::Add, "b", "", b, b)};
  EXPECT_EQ(rtp::ComputeCost(patch).biggest, 4000u);
  patch.entries = {FileEntry(rtp::Op::Delete, "big", big, "", ""), FileEntry(rtp::Op::Add, "a", "", a, a)};
  EXPECT_EQ(rtp::ComputeCost(patch).biggest, 0u);
  patch.entries = {FileEntry(rtp::Op::Replace, "big", big, a, a), NoticeEntry(1, "x")};
  EXPECT_EQ(rtp::ComputeCost(patch).biggest, 1000u);
  EXPECT_EQ(rtp::ComputeCost(patch).files, 1u);
}

}  // namespace
