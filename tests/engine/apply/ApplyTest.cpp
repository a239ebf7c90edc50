// The engine's run on real client folders: the new version comes out byte for byte, the callbacks come in
// the order and form the installer relies on, a client that is not the expected old version is refused
// before anything is replaced, and no failure or stop leaves a half-written or foreign file behind.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "journal/PowerCutFileSystem.h"
#include "engine/apply/Apply.h"
#include "engine/apply/Callbacks.h"
#include "engine/apply/Errors.h"
#include "engine/base/Crc32c.h"
#include "engine/base/Varint.h"
#include "engine/format/PatchFormat.h"
#include "engine/journal/Transaction.h"

namespace {

using enginetest::BuildBetween;
using enginetest::Call;
using enginetest::FaultyFileSystem;
using enginetest::RandomBytes;
using enginetest::ReadTree;
using enginetest::RecordingListener;
using enginetest::TempFolder;
using enginetest::Tree;
using enginetest::View;
using enginetest::WriteTree;

// The client after `patch` is applied to a copy of `before` below `work`.
Tree AppliedTo(const TempFolder& work, const Tree& before, const std::string& patch) {
  WriteTree(work.path() / "client", before);
  rtp::PosixFileSystem fs((work.path() / "client").string());
  RecordingListener listener;
  EXPECT_EQ(rtp::ApplyPatch(View(patch), fs, listener), rtp::kOk) << listener.Dump();
  return ReadTree(work.path() / "client");
}

// The directory of `patch`.
rtp::Patch Parsed(const std::string& patch) {
  rtp::MemorySource source(View(patch));
  rtp::Patch parsed;
  EXPECT_TRUE(rtp::ParsePatch(source, &parsed, nullptr));
  return parsed;
}

// Patches of earlier formats, committed beside the tests as the releases of their time wrote them.
TEST(EngineRunFormats, PatchesOfEarlierFormatsCommittedBesideTheTestsStillApply) {
  const Tree before = {{"bin\\zav.exe", "zav client 4526: the old executable text\n"},
                       {"common.ini", "build=4526\r\n"},
                       {"junk\\gone.txt", "obsolete"}};
  const Tree after = {{"bin\\zav.exe", "zav client 4536: the new executable text\n"},
                      {"common.ini", "build=4536\r\n"},
                      {"data\\new.pak", "new data"}};
  for (const char version : {'\x02', '\x03', '\x04', '\x05'}) {
    std::ifstream file(PATCHENGINE_CORPUS "/format-" + std::to_string(version) + "-patch", std::ios::binary);
    const std::string patch((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(patch.substr(0, 10), std::string("TESPATCH") + version + '\0');
    TempFolder work;
    EXPECT_EQ(AppliedTo(work, before, patch), after) << int{version};
  }
}

class EngineRun : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string exe = RandomBytes(41, 80000);
    std::string newExe = exe;
    newExe.replace(40000, 16, "version 2.12.4536");
    before = {{"bin\\zav.exe", exe},
              {"common.ini", "build=4526\r\n"},
              {"script\\compiled.code", RandomBytes(42, 7000)},
              {"old\\deep\\gone.dat", "bye"},
              {"keep.txt", "kept"}};
    after = before;
    after.erase("old\\deep\\gone.dat");
    after["bin\\zav.exe"] = newExe;
    after["common.ini"] = "build=4536\r\n";
    after["script\\compiled.code"] = RandomBytes(43, 9000);
    after["data\\maps\\new.map"] = RandomBytes(44, 2500);
    after["emptied.txt"] = "";
    before["emptied.txt"] = "was not empty";
    client = work.path() / "client";
  }

  std::string MakePatch(const rtp::BuildOptions& options = rtp::BuildOptions()) {
    return BuildBetween(work.path(), before, after, options);
  }

  uint32_t Run(const std::string& patch, rtp::FileSystem& fs) {
    return rtp::ApplyPatch(View(patch), fs, listener);
  }
  uint32_t Run(const std::string& patch) {
    rtp::PosixFileSystem fs(client.string());
    return Run(patch, fs);
  }

  TempFolder work;
  Tree before, after;
  enginetest::fs::path client;
  RecordingListener listener;
};

TEST_F(EngineRun, TurnsTheOldClientIntoTheNewOneByteForByte) {
  const std::string patch = MakePatch();
  WriteTree(client, before);
  ASSERT_EQ(Run(patch), rtp::kOk) << listener.Dump();
  EXPECT_EQ(ReadTree(client), after);
  // The folders the deleted file emptied went with it.
  EXPECT_FALSE(enginetest::fs::exists(client / "old"));
}

TEST_F(EngineRun, ChineseNamesBuiltHereComeOutByteForByte) {
  const std::string maps = "\xE6\x95\xB0\xE6\x8D\xAE\\\xE5\x9C\xB0\xE5\x9B\xBE.pak";  // 数据\地图.pak
  const std::string added = "\xE6\x95\xB0\xE6\x8D\xAE\\\xE6\x96\xB0.pak";             // 数据\新.pak
  before[maps] = RandomBytes(50, 4000);
  after[maps] = before[maps] + "more";
  after[added] = "new";
  const std::string patch = MakePatch();
  WriteTree(client, before);
  ASSERT_EQ(Run(patch), rtp::kOk) << listener.Dump();
  EXPECT_EQ(ReadTree(client), after);
}

TEST_F(EngineRun, ABuildInLittleMemoryMatchesLargeFilesInWindowsThatFollowMovedContent) {
  // 4 MiB lets a window hold 200 KiB of old bytes; the big file's content moves by 100 KB.
  const std::string big = RandomBytes(60, 1u << 20);
  std::string changed = RandomBytes(61, 100000) + big;
  for (size_t at = 50000; at < changed.size(); at += 150000) changed[at] ^= 0x5A;
  before["data\\big.pak"] = big;
  after["data\\big.pak"] = changed;
  after["data\\added.pak"] = RandomBytes(62, 300000);  // new, and larger than a window
  rtp::BuildOptions little;
  little.maxMemory = 4u << 20;
  const std::string windowed = MakePatch(little), whole = MakePatch();
  WriteTree(client, before);
  ASSERT_EQ(Run(windowed), rtp::kOk) << listener.Dump();
  EXPECT_EQ(ReadTree(client), after);
  // The new bytes make both patches; the windows lose little of the rest.
  EXPECT_LT(windowed.size(), whole.size() + whole.size() / 8) << whole.size();
}

TEST_F(EngineRun, AnnouncesTheCountThenEachFileWithRisingProgressToFullThenADetailLineEach) {
  const std::string patch = MakePatch();
  WriteTree(client, before);
  ASSERT_EQ(Run(patch), rtp::kOk);
  const std::vector<Call>& calls = listener.calls;
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0].id, rtp::kIdFileCount);
  EXPECT_EQ(calls[0].number, 6u);

  std::vector<std::string> started;
  uint32_t fileNumber = 0;
  uint32_t lastProgress = 0;
  for (size_t i = 1; i < calls.size(); ++i) {
    const Call& call = calls[i];
    ASSERT_TRUE(call.hasParam) << call;
    switch (call.id) {
      case rtp::kIdFileStart:
        if (fileNumber) EXPECT_EQ(lastProgress, 0x8000u) << "file " << fileNumber << " ended before full";
        ++fileNumber;
        lastProgress = 0;
        started.push_back(call.text);
        // The first progress of every file is 0.
        ASSERT_LT(i + 1, calls.size());
        EXPECT_EQ(calls[i + 1].id, rtp::kIdProgress);
        EXPECT_EQ(calls[i + 1].number & 0xFFFF, 0u);
        break;
      case rtp::kIdProgress:
        EXPECT_GE(call.number & 0xFFFF, lastProgress) << call;
        EXPECT_LE(call.number & 0xFFFF, 0x8000u) << call;
        EXPECT_EQ(call.number >> 16, fileNumber) << "the high half holds the file's number";
        lastProgress = call.number & 0xFFFF;
        break;
      case rtp::kIdDetail:
        // A file is put in place only once every file is built.
        EXPECT_EQ(started.size(), 6u) << call.text;
        EXPECT_EQ(lastProgress, 0x8000u);
        break;
      default:
        ADD_FAILURE() << "unexpected callback " << call;
    }
  }
  EXPECT_EQ(lastProgress, 0x8000u);
  EXPECT_EQ(started, (std::vector<std::string>{"old\\deep\\gone.dat", "script\\compiled.code", "bin\\zav.exe",
                                               "common.ini", "data\\maps\\new.map", "emptied.txt"}));
  EXPECT_EQ(listener.Of(rtp::kIdDetail).size(), 6u);
  EXPECT_EQ(listener.Of(rtp::kIdDetail)[0].text, "Deleted old\\deep\\gone.dat");
  EXPECT_EQ(listener.Of(rtp::kIdDetail)[2].text, "Patched bin\\zav.exe");
  EXPECT_EQ(listener.Of(rtp::kIdDetail)[4].text, "Added data\\maps\\new.map");
}

TEST_F(EngineRun, LinksThatLoopOrLeadNowhereInTheClientDoNotStopTheRun) {
  const std::string patch = MakePatch();
  WriteTree(client, before);
  std::filesystem::create_directory_symlink(client, client / "loop");
  std::filesystem::create_symlink(client / "nowhere", client / "dangling");
  EXPECT_EQ(Run(patch), rtp::kOk) << listener.Dump();
  std::filesystem::remove(client / "loop");
  std::filesystem::remove(client / "dangling");
  EXPECT_EQ(ReadTree(client), after);
}

TEST_F(EngineRun, AMissingOldFileIsError15BeforeAnyFileIsWritten) {
  const std::string patch = MakePatch();
  Tree damaged = before;
  damaged.erase("script\\compiled.code");  // the last file the patch handles
  WriteTree(client, damaged);
  EXPECT_EQ(Run(patch), rtp::kErrFileNotFound);
  // The patch names the file by the hash of its name, two bytes of it in a tree this small.
  ASSERT_EQ(listener.Ids(), (std::vector<uint32_t>{rtp::kIdFileCount, rtp::kIdError}));
  char hash[16];
  std::snprintf(hash, sizeof hash, "%04llx",
                static_cast<unsigned long long>(rtp::NameHash("script\\compiled.code", 2)));
  EXPECT_EQ(listener.calls[1].text,
            std::string("Error ept15: file not found: an old file of 7000 bytes (name hash ") + hash + ")");
  EXPECT_EQ(ReadTree(client), damaged);
}

TEST_F(EngineRun, AnOldFileOfAnotherSizeIsError36BeforeAnyFileIsWritten) {
  const std::string patch = MakePatch();
  Tree damaged = before;
  damaged["common.ini"] += "x";
  WriteTree(client, damaged);
  EXPECT_EQ(Run(patch), rtp::kErrMismatch);
  EXPECT_EQ(listener.Ids(), (std::vector<uint32_t>{rtp::kIdFileCount, rtp::kIdFileStart, rtp::kIdError}));
  EXPECT_EQ(listener.calls[2].text.rfind("Error ept36: ", 0), 0u) << listener.calls[2].text;
  EXPECT_EQ(ReadTree(client), damaged);
}

TEST_F(EngineRun, AnOldFileWhoseCopiedBytesDifferIsError36AndNothingIsReplaced) {
  const std::string patch = MakePatch();
  Tree damaged = before;
  damaged["bin\\zav.exe"][100] ^= 1;  // a byte the new version copies
  WriteTree(client, damaged);
  EXPECT_EQ(Run(patch), rtp::kErrMismatch);
  EXPECT_EQ(listener.calls.back().text, "Error ept36: file does not match (size or CRC-32): bin\\zav.exe");
  EXPECT_TRUE(listener.Of(rtp::kIdDetail).empty());
  EXPECT_EQ(ReadTree(client), damaged);
}

TEST_F(EngineRun, AMissingClientFolderIsError15) {
  const std::string patch = MakePatch();
  EXPECT_EQ(Run(patch), rtp::kErrFileNotFound);
  EXPECT_EQ(listener.Ids(), std::vector<uint32_t>{rtp::kIdError});
  EXPECT_EQ(listener.calls[0].text, "Error ept15: file not found: client folder");
}

TEST_F(EngineRun, ADamagedOrTruncatedPatchIsError9AndAnotherVersionError8WithNothingTouched) {
  const std::string patch = MakePatch();
  WriteTree(client, before);
  struct Case {
    std::string bytes;
    uint32_t error;
  };
  std::string flipped = patch;
  flipped[flipped.size() / 2] ^= 0x40;
  std::string version = patch;
  version[8] = 8;
  for (const Case& c :
       {Case{patch.substr(0, patch.size() - 1), rtp::kErrCorrupt}, Case{flipped, rtp::kErrCorrupt},
        Case{"", rtp::kErrCorrupt}, Case{version, rtp::kErrFormatVersion}}) {
    listener.calls.clear();
    EXPECT_EQ(Run(c.bytes), c.error);
    ASSERT_EQ(listener.Ids(), std::vector<uint32_t>{rtp::kIdError});
    EXPECT_EQ(listener.calls[0].text.rfind("Error ept" + std::to_string(c.error) + ": ", 0), 0u)
        << listener.calls[0].text;
    EXPECT_EQ(ReadTree(client), before);
  }
}

TEST_F(EngineRun, StoppingAtAnyCallbackLeavesEveryFileWholeOldOrNewAndNoTempFile) {
  const std::string patch = MakePatch();
  WriteTree(client, before);
  ASSERT_EQ(Run(patch), rtp::kOk);
  const size_t total = listener.calls.size();
  for (size_t stopAt = 1; stopAt <= total; ++stopAt) {
    TempFolder other;
    WriteTree(other.path(), before);
    RecordingListener stopping;
    stopping.abortAt = stopAt;
    rtp::PosixFileSystem fs(other.path().string());
    ASSERT_EQ(rtp::ApplyPatch(View(patch), fs, stopping), rtp::kErrAborted) << stopAt;
    EXPECT_EQ(stopping.calls.size(), stopAt) << "a callback came after the stop";
    EXPECT_EQ(ReadTree(other.path()), before) << stopAt;
  }
}

TEST_F(EngineRun, AKilledRunIsFinishedOrUndoneByTheNextStartAndTheSamePatchThenEndsNew) {
  // Small files are rewritten in place, a large one is renamed; a stray file may wait where a new one goes.
  before["data\\big.pak"] = RandomBytes(45, 300000);
  after["data\\big.pak"] = before["data\\big.pak"].replace(150000, 5, "moved");
  Tree strayed = before;
  strayed["data\\maps\\new.map"] = "a stray";
  const std::string patch = MakePatch();
  WriteTree(client, before);
  FaultyFileSystem counting(client);
  ASSERT_EQ(Run(patch, counting), rtp::kOk);
  for (const Tree& start : {before, strayed}) {
    for (int kill = 0; kill < counting.steps; ++kill) {
      TempFolder killed, restarted;
      WriteTree(killed.path(), start);
      FaultyFileSystem dying(killed.path());
      dying.stepsLeft = kill;
      RecordingListener ignored;
      rtp::ApplyPatch(View(patch), dying, ignored);
      enginetest::fs::copy(killed.path(), restarted.path(), enginetest::fs::copy_options::recursive);
      // The installer's next start: it recovers before it reads the client's build.
      rtp::PosixFileSystem installer(restarted.path().string());
      EXPECT_NE(rtp::RecoverInterruptedRun(installer).what, rtp::Recovery::Failed) << kill;
      const Tree recovered = ReadTree(restarted.path());
      EXPECT_TRUE(recovered == start || recovered == after) << "killed at step " << kill;
      // The engine run again on its own.
      rtp::PosixFileSystem engine(killed.path().string());
      RecordingListener again;
      EXPECT_EQ(rtp::ApplyPatch(View(patch), engine, again), rtp::kOk) << kill << again.Dump();
      EXPECT_EQ(ReadTree(killed.path()), after) << "killed at step " << kill;
    }
  }
}

TEST_F(EngineRun, CheckingManySmallFilesSendsAHeartbeatEvery32Files) {
  for (int i = 0; i < 70; ++i) {
    const std::string name = "data\\f" + std::to_string(i) + ".dat";
    before[name] = RandomBytes(100 + i, 600);
    after[name] = RandomBytes(200 + i, 600);
  }
  const std::string patch = MakePatch();
  WriteTree(client, before);
  ASSERT_EQ(Run(patch), rtp::kOk);
  size_t beats = 0;
  for (const Call& call : listener.calls) {
    if (call.id == rtp::kIdFileStart) break;
    beats += call.id == rtp::kIdHeartbeat;
  }
  EXPECT_EQ(beats, 2u) << "74 old files checked before the first is written";
}

TEST_F(EngineRun, ALockedFileIsScheduledForTheRestartAndReported26) {
  const std::string patch = MakePatch();
  WriteTree(client, before);
  FaultyFileSystem fs(client);
  fs.locked = {"bin\\zav.exe"};
  ASSERT_EQ(Run(patch, fs), rtp::kOk);
  EXPECT_EQ(fs.scheduled, std::vector<std::string>{"bin\\zav.exe.~tpnew -> bin\\zav.exe"});
  const auto locked = listener.Of(rtp::kIdLockedReplace);
  ASSERT_EQ(locked.size(), 1u);
  EXPECT_FALSE(locked[0].hasParam);
  EXPECT_EQ(listener.Of(rtp::kIdDetail)[2].text,
            "bin\\zav.exe is in use: it will be replaced when the computer restarts");
  const Tree result = ReadTree(client);
  EXPECT_EQ(result.at("bin\\zav.exe"), before.at("bin\\zav.exe"));
  // The new file waits beside it for the restart.
  EXPECT_EQ(result.at("bin\\zav.exe.~tpnew"), after.at("bin\\zav.exe"));
  EXPECT_EQ(result.at("common.ini"), after.at("common.ini"));
}

TEST_F(EngineRun, ALockedFileToDeleteIsScheduledAndReported28) {
  const std::string patch = MakePatch();
  WriteTree(client, before);
  FaultyFileSystem fs(client);
  fs.locked = {"old\\deep\\gone.dat"};
  ASSERT_EQ(Run(patch, fs), rtp::kOk);
  EXPECT_EQ(fs.scheduled, std::vector<std::string>{"delete old\\deep\\gone.dat"});
  EXPECT_EQ(listener.Of(rtp::kIdLockedDelete).size(), 1u);
  EXPECT_TRUE(listener.Of(rtp::kIdLockedReplace).empty());
}

TEST_F(EngineRun, ALockedFileThatCannotBeScheduledIsError21AndItsNewFileIsRemoved) {
  const std::string patch = MakePatch();
  WriteTree(client, before);
  FaultyFileSystem fs(client);
  fs.locked = {"common.ini"};
  fs.failSchedule = true;
  EXPECT_EQ(Run(patch, fs), rtp::kErrReplace);
  EXPECT_EQ(listener.calls.back().text, "Error ept21: file cannot be replaced: common.ini");
  EXPECT_EQ(listener.Of(rtp::kIdDetail).back().text, "The client was restored to its previous version");
  EXPECT_EQ(ReadTree(client), before) << "the files already in place went back";
}

TEST_F(EngineRun, AFailedWriteIsError20AndLeavesTheOldFileAndNoHalfFile) {
  const std::string patch = MakePatch();
  WriteTree(client, before);
  FaultyFileSystem fs(client);
  fs.failWrites = true;
  EXPECT_EQ(Run(patch, fs), rtp::kErrWrite);
  EXPECT_EQ(listener.calls.back().text, "Error ept20: file cannot be written: tesserine.~tpkeep");
  EXPECT_EQ(ReadTree(client), before);
}

TEST_F(EngineRun, TooLittleFreeSpaceIsError22BeforeAnythingIsWritten) {
  const std::string patch = MakePatch();
  WriteTree(client, before);
  FaultyFileSystem fs(client);
  fs.freeBytes = 50000;  // the run holds about 100 KB of new files and kept copies
  EXPECT_EQ(Run(patch, fs), rtp::kErrDiskSpace);
  EXPECT_EQ(listener.calls.back().text, "Error ept22: not enough disk space: need 1 MB, free 0 MB");
  EXPECT_EQ(fs.steps, 0) << "nothing was written";
  EXPECT_EQ(ReadTree(client), before);
}

TEST_F(EngineRun, AFailedRenameIsError21AndLeavesTheOldFile) {
  const std::string patch = MakePatch();
  WriteTree(client, before);
  FaultyFileSystem fs(client);
  fs.failReplace = true;
  EXPECT_EQ(Run(patch, fs), rtp::kErrReplace);
  EXPECT_EQ(ReadTree(client), before);
}

TEST_F(EngineRun, AnOldFileThatCannotBeReadIsError19) {
  const std::string patch = MakePatch();
  WriteTree(client, before);
  FaultyFileSystem fs(client);
  fs.unreadable = {"common.ini"};
  EXPECT_EQ(Run(patch, fs), rtp::kErrRead);
  EXPECT_EQ(listener.Ids(), (std::vector<uint32_t>{rtp::kIdFileCount, rtp::kIdFileStart, rtp::kIdError}));
  EXPECT_EQ(ReadTree(client), before);
}

TEST_F(EngineRun, AnAddedFileReplacesAStrayFileOfTheSameName) {
  const std::string patch = MakePatch();
  Tree stray = before;
  stray["data\\maps\\new.map"] = "left over from something else";
  WriteTree(client, stray);
  ASSERT_EQ(Run(patch), rtp::kOk);
  EXPECT_EQ(ReadTree(client), after);
}

TEST(KeptFiles, ADamagedCopyIsNotWrittenBackAndAnIntactOneIs) {
  TempFolder folder;
  rtp::PosixFileSystem fs(folder.path().string());
  const std::string old = RandomBytes(47, 5000);
  rtp::MemorySource source{View(old)};
  rtp::KeepWriter writer(fs);
  uint64_t at = 0;
  ASSERT_EQ(writer.Add(7, source, &at), rtp::FsStatus::Ok);
  ASSERT_EQ(writer.Seal(), rtp::FsStatus::Ok);
  const enginetest::fs::path keep = folder.path() / rtp::kKeepName, file = folder.path() / "a.dat";
  const std::string kept = enginetest::ReadBytes(keep);
  std::string damaged = kept;
  damaged[at + 100] ^= 1;
  enginetest::WriteBytes(keep, damaged);
  enginetest::WriteBytes(file, "cut sh");
  EXPECT_EQ(rtp::KeptFiles().Restore(fs, 7, "a.dat"), rtp::FsStatus::Failed);
  EXPECT_EQ(enginetest::ReadBytes(file), "cut sh");
  enginetest::WriteBytes(keep, kept);
  EXPECT_EQ(rtp::KeptFiles().Restore(fs, 7, "a.dat"), rtp::FsStatus::Ok);
  EXPECT_EQ(enginetest::ReadBytes(file), old);
}

TEST(EngineRunMixed, ABinaryWithScatteredChangesAndEditedTextInOneTreeComeOutExact) {
  // The binary suits difference covers, the text exact pieces: the patch holds both (smaller than either
  // style alone would make it).
  std::string binary = RandomBytes(71, 200000), text, edited;
  std::mt19937 random(72);
  for (int i = 0; i < 60000; ++i) {
    const std::string word = "w" + std::to_string(1000 + random() % 50) + (i % 9 ? " " : "\n");
    text += word;
    edited += i % 2 ? word : "w" + std::to_string(1000 + random() % 50) + " ";
  }
  const Tree before = {{"bin\\game.dat", binary}, {"script\\a.txt", text}};
  for (size_t i = 0; i < binary.size(); i += 97) ++binary[i];
  const Tree after = {{"bin\\game.dat", binary}, {"script\\a.txt", edited}};
  TempFolder work;
  EXPECT_EQ(AppliedTo(work, before, BuildBetween(work.path(), before, after)), after);
}

TEST(EngineRunMixed, TextEditedEveryFewWordsIsCodedAfterTheOldSpaceAndComesOutExact) {
  // Covers would be a few words long; LZMA's own parse over the old space codes the text in less.
  std::string a, b, editedA, editedB;
  std::mt19937 random(73);
  for (int i = 0; i < 40000; ++i) {
    const std::string word = "w" + std::to_string(random() % 3000) + (i % 7 ? " " : "\n");
    const std::string edit = random() % 4 ? word : "e" + std::to_string(random() % 3000) + " ";
    (i % 3 ? a : b) += word;
    (i % 3 ? editedA : editedB) += edit;
  }
  const Tree before = {{"a.txt", a}, {"b.txt", b}};
  const Tree after = {
      {"a.txt", editedA}, {"b.txt", editedB}, {"c.txt", b.substr(0, 9000) + editedA.substr(500, 7000)}};
  TempFolder work;
  const std::string patch = BuildBetween(work.path(), before, after);
  EXPECT_EQ(Parsed(patch).streams[rtp::kLiterals].codec, rtp::Codec::LzmaAfterOld);
  EXPECT_EQ(AppliedTo(work, before, patch), after);
}

TEST(EngineRunMixed, AnAddedFileCopiedFromAnUnchangedOneIsBuiltFromItsBytes) {
  // Unchanged old files are searched only when they give the written ones long runs: this one does, the
  // other does not. Random bytes: the copy is small in the patch only when it is matched.
  const std::string shared = RandomBytes(81, 120000);
  std::string changed = RandomBytes(82, 50000), copy = shared.substr(10000, 90000);
  for (size_t i = 0; i < copy.size(); i += 5000) ++copy[i];
  const Tree before = {
      {"a.dat", changed}, {"lib\\shared.dat", shared}, {"other.dat", RandomBytes(83, 70000)}};
  changed[100] ^= 1;
  Tree after = before;
  after["a.dat"] = changed;
  after["lib\\copy.dat"] = copy;
  TempFolder work;
  const std::string patch = BuildBetween(work.path(), before, after);
  EXPECT_LT(patch.size(), 4000u);
  EXPECT_EQ(AppliedTo(work, before, patch), after);
}

TEST(EngineRunMixed, APackedFileLeftOutOfTheIndexIsStillInTheOldSpaceLiteralsAreCodedAfter) {
  // The old image gives its new version no run, so it is not indexed; pieces of it too short for a run
  // come back in the text, and only the literals' coder after the old space finds them there.
  const std::string image = RandomBytes(91, 70000);
  std::string text, added;
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + " of the manual\n";
  for (int i = 0; i < 20000; ++i) added += "entry " + std::to_string(i) + " added\n";
  const Tree before = {{"image.png", image}, {"manual.txt", text}};
  Tree after = {{"image.png", RandomBytes(92, 70000)}, {"manual.txt", text + added}};
  for (size_t at = 500; at < 60000; at += 300) after["manual.txt"].insert(at, image.substr(at, 30));
  TempFolder work;
  const std::string patch = BuildBetween(work.path(), before, after);
  EXPECT_LT(patch.size(), 80000u);  // 83 KB when the old space lacks the image
  EXPECT_EQ(AppliedTo(work, before, patch), after);
}

TEST(EngineRunMixed, PiecesOfAnOldImageInItsNewVersionAreFoundWhenNothingIsSearched) {
  // Both versions look packed and share no run: nothing is indexed for covers, and the literals' matches
  // in the old space come from an index of it made for them.
  const std::string image = RandomBytes(96, 1200000);
  std::string fresh = RandomBytes(97, image.size());
  for (size_t at = 0; at + 30 < fresh.size(); at += 300) fresh.replace(at, 30, image, at * 7 % 1100000, 30);
  const Tree before = {{"image.png", image}}, after = {{"image.png", fresh}};
  TempFolder work;
  const std::string patch = BuildBetween(work.path(), before, after);
  EXPECT_LT(patch.size(), fresh.size() - 80000);
  EXPECT_EQ(AppliedTo(work, before, patch), after);
}

TEST(EngineRunMixed, LiteralsFarFewerThanTheOldSpaceFindItsBytesInTheFilesThePatchKeeps) {
  // Pieces of c.dat too short for covers so far away come back in the text: the literals' coder finds
  // them through the index, where b.dat (unchanged, a copy of c.dat's start: indexed, but its bytes are
  // taken from c.dat) lies before c.dat but not in the old space.
  std::string text;
  for (int i = 0; i < 12000; ++i) text += "line " + std::to_string(i) + " of the manual\n";
  const std::string data = RandomBytes(95, 1u << 20);
  const Tree before = {{"a.txt", text}, {"b.dat", data.substr(0, 100000)}, {"c.dat", data}};
  Tree after = before;
  after["c.dat"][5000] ^= 1;
  for (size_t at = 1000; at < 250000; at += 1000) after["a.txt"].insert(at, data.substr(200000 + at * 3, 30));
  TempFolder work;
  const std::string patch = BuildBetween(work.path(), before, after);
  EXPECT_EQ(Parsed(patch).streams[rtp::kLiterals].codec, rtp::Codec::LzmaAfterOld);
  EXPECT_EQ(Parsed(patch).sources.size(), 2u);
  EXPECT_LT(patch.size(), 3000u);
  EXPECT_EQ(AppliedTo(work, before, patch), after);
}

TEST(EngineRunMixed, APackedFileEditedInPlaceAllOverIsBuiltFromItsOldVersion) {
  // No run of equal bytes is long enough to tell the two versions apart from unrelated packed files.
  const std::string old = RandomBytes(93, 200000);
  std::string edited = old;
  for (size_t i = 0; i < edited.size(); i += 16) ++edited[i];
  const Tree before = {{"data\\sounds.pak", old}}, after = {{"data\\sounds.pak", edited}};
  TempFolder work;
  const std::string patch = BuildBetween(work.path(), before, after);
  EXPECT_LT(patch.size(), 20000u);
  EXPECT_EQ(AppliedTo(work, before, patch), after);
}

TEST(EngineRunLarge, FilesOfOneBufferAndOneByteMoreGoThroughEveryOperationFromAPatchOnDisk) {
  for (const size_t size : {rtp::kChunkSize, rtp::kChunkSize + 1}) {
    TempFolder work;
    const std::string base = RandomBytes(51, size);
    std::string edited = base;
    edited[size / 2] ^= 1;
    edited[size - 1] ^= 1;
    const Tree before = {{"delta.bin", base}, {"replace.bin", RandomBytes(52, size)}, {"gone.bin", base}};
    const Tree after = {{"delta.bin", edited}, {"replace.bin", RandomBytes(54, size)}, {"added.bin", edited}};
    const std::string patch = BuildBetween(work.path(), before, after);
    const rtp::Patch parsed = Parsed(patch);
    std::vector<std::pair<rtp::FileKind, bool>> kinds;  // and whether an old file is replaced
    for (const rtp::TreeFile& file : parsed.files) kinds.emplace_back(file.kind, file.oldSource != 0);
    EXPECT_EQ(kinds, (std::vector<std::pair<rtp::FileKind, bool>>{{rtp::FileKind::Delete, true},
                                                                  {rtp::FileKind::Write, false},
                                                                  {rtp::FileKind::Write, true},
                                                                  {rtp::FileKind::Write, true}}));
    enginetest::WriteBytes(work.path() / "patch.rtp", patch);
    std::unique_ptr<rtp::Source> file;
    ASSERT_EQ(rtp::OpenHostFile((work.path() / "patch.rtp").string(), &file), rtp::FsStatus::Ok);

    // Only the last byte that the last written file copies differs: nothing is replaced.
    Tree damaged = before;
    damaged["delta.bin"][size - 2] ^= 2;
    WriteTree(work.path() / "damaged", damaged);
    RecordingListener refused;
    rtp::PosixFileSystem damagedClient((work.path() / "damaged").string());
    EXPECT_EQ(rtp::ApplyPatch(*file, damagedClient, refused), rtp::kErrMismatch) << size;
    EXPECT_EQ(ReadTree(work.path() / "damaged"), damaged) << size;

    WriteTree(work.path() / "client", before);
    RecordingListener listener;
    rtp::PosixFileSystem client((work.path() / "client").string());
    ASSERT_EQ(rtp::ApplyPatch(*file, client, listener), rtp::kOk) << size << listener.Dump();
    EXPECT_EQ(ReadTree(work.path() / "client"), after) << size;
  }
}

TEST(EngineRunLarge, DifferencesAcrossTheOldBufferAreToldByTheOldBytesAroundThemAndComeOutExact) {
  // Addresses moved where their high byte says so, one run of differences over the apply's buffer.
  std::string old = RandomBytes(55, rtp::kChunkSize * 3 / 2);
  std::string moved = old;
  for (size_t i = 0; i + 1 < old.size(); i += 3)
    if (old[i + 1] & 1) moved[i] = static_cast<char>(old[i] + 40);
  const Tree before = {{"bin\\game.exe", old}}, after = {{"bin\\game.exe", moved}};
  TempFolder work;
  const std::string patch = BuildBetween(work.path(), before, after);
  EXPECT_EQ(Parsed(patch).streams[rtp::kDiff].codec, rtp::Codec::Differences);
  EXPECT_EQ(AppliedTo(work, before, patch), after);
}

// A large data file edited in places (an insertion, edits, parts moved, a new tail) is matched in windows,
// each changed run against a small index of the old bytes it most likely comes from, whatever the memory
// allows: the build takes a fraction of what a suffix array of the file would (four times its size).
TEST(EngineRunLarge, ALargeDataFileEditedInPlacesIsBuiltInLittleMoreThanItsSizeAndComesOutExact) {
  constexpr size_t kSize = 136u << 20, kPiece = 1u << 20;
  std::string old(kSize, '\0');
  for (size_t at = 0; at < kSize; at += 8 * kPiece) old.replace(at, kPiece, RandomBytes(at, kPiece));
  std::string changed = old;
  // Parts of it moved, as in a packed file whose entries were reordered: one whole, one edited too.
  changed.replace(40 * kPiece + 5000, 40000, old.substr(16 * kPiece + 300000, 40000));
  changed.replace(48 * kPiece + 9000, 50000,
                  old.substr(24 * kPiece + 7000, 20000) + "!" + old.substr(24 * kPiece + 27001, 29999));
  changed.insert(kSize / 2 + 100, RandomBytes(1, 4096));
  for (size_t at = 1000; at < kSize; at += 20 * kPiece) changed.replace(at, 500, RandomBytes(at + 1, 500));
  const Tree before = {{"data.pak", old}}, after = {{"data.pak", changed + RandomBytes(2, 100000)}};
  TempFolder work;
  struct rusage start, built;
  ::getrusage(RUSAGE_SELF, &start);
  const std::string patch = BuildBetween(work.path(), before, after);
  ::getrusage(RUSAGE_SELF, &built);
  EXPECT_LT(built.ru_maxrss - start.ru_maxrss, 5 * static_cast<long>(kSize / 2048)) << "KiB more at the peak";
  EXPECT_LT(patch.size(), 4096u + 7 * 500 + 100000 + 4096) << "the changed bytes and little more";
  EXPECT_TRUE(AppliedTo(work, before, patch) == after);
}

// A client's packed data file over 4 GiB, changed beyond 4 GiB, built in a little memory and applied:
// sizes and offsets are 64-bit from the builder through the patch to the run, and neither the build nor
// the run holds the file in memory. Both versions are sparse files.
TEST(EngineRunLarge, AFileOver4GiBChangedBeyond4GiBIsBuiltAndAppliedInBoundedMemory) {
  constexpr uint64_t kSize = (uint64_t{9} << 29) + 12345;  // 4.5 GiB and a bit
  constexpr uint64_t kAt = (uint64_t{1} << 32) + 100;
  const std::string marker = "NEWDATA";
  TempFolder work;
  const auto sparse = [](const enginetest::fs::path& path, const std::string& at4GiB) {
    enginetest::fs::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary);
    file.seekp(static_cast<std::streamoff>(kAt));
    file.write(at4GiB.data(), static_cast<std::streamsize>(at4GiB.size()));
    file.seekp(static_cast<std::streamoff>(kSize - 1));
    file.put('\0');
  };
  const auto client = work.path() / "client";
  sparse(client / "big.pak", "");
  sparse(work.path() / "new" / "big.pak", marker);
  rtp::PosixFileSystem oldTree(client.string()), newTree((work.path() / "new").string());
  rtp::BuildOptions options;
  options.maxMemory = 256u << 20;
  rtp::Buffer patch;
  std::string error;
  ASSERT_TRUE(rtp::BuildPatch(oldTree, newTree, options, &patch, nullptr, &error)) << error;
  EXPECT_LT(patch.size(), 4096u) << "the file is copied, not carried";

  struct rusage before, after;
  ::getrusage(RUSAGE_SELF, &before);
  RecordingListener listener;
  rtp::PosixFileSystem fs(client.string());
  ASSERT_EQ(rtp::ApplyPatch(patch.view(), fs, listener), rtp::kOk) << listener.Dump();
  ::getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "KiB more at the peak";
  EXPECT_EQ(enginetest::fs::file_size(client / "big.pak"), kSize);
  std::ifstream result(client / "big.pak", std::ios::binary);
  result.seekg(static_cast<std::streamoff>(kAt - 1));
  std::string around(marker.size() + 2, '?');
  result.read(&around[0], static_cast<std::streamsize>(around.size()));
  EXPECT_EQ(around, std::string(1, '\0') + marker + std::string(1, '\0'));
}

// A client of 100,000 small files in deep folders: the file lists are read and compared, and the run
// committed, in one pass each (a quadratic step would take minutes here).
TEST(ManyFiles, AHundredThousandFilesBuildAndApply) {
  Tree before, after;
  for (int i = 0; i < 100000; ++i) {
    const std::string name = "d" + std::to_string(i % 50) + "\\e" + std::to_string(i % 7) + "\\f\\g\\h" +
                             std::to_string(i) + ".dat";
    before[name] = "file " + std::to_string(i);
    if (i % 100 != 1) after[name] = i % 20 == 0 ? before[name] + " changed" : before[name];
    if (i % 100 == 2) after["new\\" + std::to_string(i) + ".dat"] = "added";
  }
  enginetest::PowerCutFileSystem oldTree(before), newTree(after), client(before);
  rtp::Buffer patch;
  std::string error;
  ASSERT_TRUE(rtp::BuildPatch(oldTree, newTree, rtp::BuildOptions(), &patch, nullptr, &error)) << error;
  enginetest::RecordingListener listener;
  ASSERT_EQ(rtp::ApplyPatch(patch.view(), client, listener), rtp::kOk);
  EXPECT_TRUE(client.Current() == after);
}

}  // namespace
