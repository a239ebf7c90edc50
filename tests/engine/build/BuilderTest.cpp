// The builder: two client folders on disk give a patch with exactly the files that differ.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/build/Builder.h"
#include "engine/base/Crc32c.h"
#include "engine/format/PatchFormat.h"

namespace {

using enginetest::RandomBytes;
using enginetest::TempFolder;
using enginetest::Tree;
using enginetest::View;

struct Built {
  std::string bytes;
  rtp::Patch patch;
  rtp::BuildSummary summary;
};

// Builds between two trees; the patch is parsed as the engine would.
bool Build(const TempFolder& work, const Tree& before, const Tree& after, const rtp::BuildOptions& options,
           Built* out, std::string* error) {
  enginetest::WriteTree(work.path() / "old", before);
  enginetest::WriteTree(work.path() / "new", after);
  rtp::PosixFileSystem oldTree((work.path() / "old").string());
  rtp::PosixFileSystem newTree((work.path() / "new").string());
  rtp::Buffer patch;
  if (!rtp::BuildPatch(oldTree, newTree, options, &patch, &out->summary, error)) return false;
  out->bytes.assign(reinterpret_cast<const char*>(patch.data()), patch.size());
  rtp::FormatError parseError;
  rtp::MemorySource source(View(out->bytes));
  EXPECT_TRUE(rtp::ParsePatch(source, &out->patch, &parseError)) << parseError.detail;
  return true;
}

// The files in order.
// The patch's files, named as in the old tree `client`.
std::vector<std::string> Listing(rtp::Patch patch, const Tree& client) {
  std::vector<std::string> clientFiles;
  for (const auto& file : client) clientFiles.push_back(file.first);
  rtp::FormatError error;
  const auto sizeOf = [&](const std::string& name, uint64_t* size) {
    return *size = client.at(name).size(), true;
  };
  EXPECT_TRUE(rtp::ResolveNames(&patch, clientFiles, sizeOf, &error)) << error.detail;
  std::vector<std::string> lines;
  for (const rtp::TreeFile& file : patch.files)
    lines.push_back(std::string(file.kind == rtp::FileKind::Delete ? "delete "
                                : file.oldSource                   ? "patch "
                                                                   : "add ") +
                    file.name);
  return lines;
}

class PatchBuilder : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string exe = RandomBytes(31, 64000);
    std::string patchedExe = exe;
    patchedExe.replace(30000, 8, "PATCHED!");
    before = {{"bin\\zav.exe", exe},     {"common.ini", "build=4526\r\n"},
              {"same.txt", "unchanged"}, {"data\\same.pak", RandomBytes(32, 5000)},
              {"old\\gone.dat", "bye"},  {"zz_last_gone.txt", "bye too"}};
    after = before;
    after.erase("old\\gone.dat");
    after.erase("zz_last_gone.txt");
    after["bin\\zav.exe"] = patchedExe;
    after["common.ini"] = "build=4536\r\n";
    after["data\\new.pak"] = RandomBytes(33, 3000);
    after["empty.txt"] = "";
  }
  TempFolder work;
  Tree before, after;
};

// Files of one extension and name follow one another, whatever their folders.
TEST_F(PatchBuilder, OnlyAddedChangedAndRemovedFilesGetEntriesDeletionsFirstThenByKind) {
  after["lang\\zh\\common.ini"] = "build=4536\r\nlang=zh\r\n";
  Built built;
  std::string error;
  ASSERT_TRUE(Build(work, before, after, rtp::BuildOptions(), &built, &error)) << error;
  EXPECT_EQ(Listing(built.patch, before),
            (std::vector<std::string>{"delete old\\gone.dat", "delete zz_last_gone.txt", "patch bin\\zav.exe",
                                      "patch common.ini", "add lang\\zh\\common.ini", "add data\\new.pak",
                                      "add empty.txt"}));
  EXPECT_EQ(built.summary.added, 3u);
  EXPECT_EQ(built.summary.patched, 2u);
  EXPECT_EQ(built.summary.deleted, 2u);
  EXPECT_EQ(built.summary.unchanged, 2u);
  // The small edit of a 64000-byte file costs a few bytes beside the 3000 new random ones.
  EXPECT_LT(built.bytes.size(), 3300u);
  const rtp::TreeFile& exe = built.patch.files[2];
  EXPECT_EQ(built.patch.sources[exe.oldSource - 1].size, 64000u);
  EXPECT_EQ(exe.newCrc, rtp::Crc32c(View(after["bin\\zav.exe"])));
}

TEST_F(PatchBuilder, TheSameFoldersGiveTheSameBytesOnEveryBuild) {
  Built first, second;
  std::string error;
  TempFolder other;
  ASSERT_TRUE(Build(work, before, after, rtp::BuildOptions(), &first, &error)) << error;
  ASSERT_TRUE(Build(other, before, after, rtp::BuildOptions(), &second, &error)) << error;
  EXPECT_EQ(first.bytes, second.bytes);
}

TEST_F(PatchBuilder, IdenticalFoldersGiveAPatchWithoutEntries) {
  Built built;
  std::string error;
  ASSERT_TRUE(Build(work, before, before, rtp::BuildOptions(), &built, &error)) << error;
  EXPECT_TRUE(built.patch.files.empty());
  EXPECT_TRUE(built.patch.sources.empty());
  EXPECT_EQ(built.summary.unchanged, before.size());
  EXPECT_LT(built.bytes.size(), 64u);
}

TEST_F(PatchBuilder, NamesDifferingOnlyInCaseAreOneFileUnderItsNewSpelling) {
  Tree renamed = before;
  renamed.erase("common.ini");
  renamed["Common.INI"] = "build=4536\r\n";
  Built built;
  std::string error;
  ASSERT_TRUE(Build(work, before, renamed, rtp::BuildOptions(), &built, &error)) << error;
  EXPECT_EQ(Listing(built.patch, before), std::vector<std::string>{"patch Common.INI"});
}

TEST_F(PatchBuilder, FilesAPatchCannotNameAreRefusedByName) {
  for (const std::string& name :
       std::vector<std::string>{"bad:name.txt", "what?.txt", "\xC4\xE3\xBA\xC3.txt", "trailing."}) {
    TempFolder other;
    Tree withBad = after;
    withBad[name] = "x";
    Built built;
    std::string error;
    EXPECT_FALSE(Build(other, before, withBad, rtp::BuildOptions(), &built, &error)) << name;
    EXPECT_NE(error.find(name), std::string::npos) << error;
    EXPECT_NE(error.find("new folder"), std::string::npos) << error;
  }
}

TEST_F(PatchBuilder, TwoFilesOfOneFolderDifferingOnlyInCaseAreRefused) {
  Tree twins = after;
  twins["SAME.TXT"] = "twin";
  Built built;
  std::string error;
  EXPECT_FALSE(Build(work, before, twins, rtp::BuildOptions(), &built, &error));
  EXPECT_NE(error.find("case"), std::string::npos) << error;
}

}  // namespace

// Edited bytes, then a long run of zeros whose last byte its old place lacks but another old run has: the
// alignment misses every position's match by one byte, and each was searched, as long as the run.
TEST(PatchBuilderRepeats, ALongRunOfZerosMatchedAlmostInPlaceBuildsInTimeAndSmall) {
  const size_t zeros = 1u << 20;
  const std::string a = RandomBytes(41, 65536), b = RandomBytes(42, 65536);
  const Tree before = {{"data.pak", a + std::string(zeros, '\0') + "\x01" + b +
                                        std::string(zeros + 10, '\0') + "\x07" + RandomBytes(43, 65536)}};
  const Tree after = {{"data.pak", a + RandomBytes(44, 100) + std::string(zeros - 100, '\0') + "\x07" +
                                       RandomBytes(45, 4000)}};
  TempFolder work;
  Built built;
  std::string error;
  ASSERT_TRUE(Build(work, before, after, rtp::BuildOptions(), &built, &error)) << error;
  EXPECT_LT(built.bytes.size(), 4400u);
}
