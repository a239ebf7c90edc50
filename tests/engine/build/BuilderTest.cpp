// The builder: two client folders on disk give a patch with exactly the files that differ, and the test
// controls land where they were asked for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/build/Builder.h"
#include "engine/base/Crc32c.h"
#include "engine/apply/Errors.h"
#include "engine/format/FormatV2.h"

namespace {

using enginetest::Controls;
using enginetest::RandomBytes;
using enginetest::TempFolder;
using enginetest::Tree;
using enginetest::View;

struct Built {
  std::string bytes;
  rtp::PatchV2 patch;
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
  EXPECT_TRUE(rtp::ParsePatchV2(source, &out->patch, &parseError)) << parseError.detail;
  return true;
}

// The files in order, with the notices where they are sent.
std::vector<std::string> Listing(const rtp::PatchV2& patch) {
  std::vector<std::string> lines;
  size_t notice = 0;
  for (size_t i = 0; i <= patch.files.size(); ++i) {
    for (; notice < patch.notices.size() && patch.notices[notice].slot == i; ++notice) {
      const rtp::SlotNotice& n = patch.notices[notice];
      std::string line = "notice " + std::to_string(n.id);
      if (rtp::ParamKindOf(n.id) == rtp::ParamKind::Text) line += " " + n.payload;
      lines.push_back(line);
    }
    if (i == patch.files.size()) break;
    const rtp::TreeFile& file = patch.files[i];
    lines.push_back(std::string(file.kind == rtp::FileKind::Delete ? "delete "
                                : file.oldSource                   ? "patch "
                                                                   : "add ") +
                    file.name);
  }
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

TEST_F(PatchBuilder, OnlyAddedChangedAndRemovedFilesGetEntriesDeletionsFirst) {
  Built built;
  std::string error;
  ASSERT_TRUE(Build(work, before, after, rtp::BuildOptions(), &built, &error)) << error;
  EXPECT_EQ(Listing(built.patch),
            (std::vector<std::string>{"delete old\\gone.dat", "delete zz_last_gone.txt", "patch bin\\zav.exe",
                                      "patch common.ini", "add data\\new.pak", "add empty.txt"}));
  EXPECT_EQ(built.summary.added, 2u);
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
  EXPECT_EQ(Listing(built.patch), std::vector<std::string>{"patch Common.INI"});
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

TEST_F(PatchBuilder, NoticesLandAtStartEndAndBeforeOrAfterTheNamedFileInTheOrderGiven) {
  const rtp::BuildOptions options = Controls({{"notify-warning", "first"},
                                              {"at", "end"},
                                              {"notify-detail", "last"},
                                              {"at", "before:BIN\\ZAV.EXE"},
                                              {"notify-warning2", "before exe"},
                                              {"notify-warning4", "before exe too"},
                                              {"at", "after:common.ini"},
                                              {"notify-error", "15"},
                                              {"notify-locked", "28"},
                                              {"at", "start"},
                                              {"notify", "7:fake.file"},
                                              {"notify", "6:0x10"},
                                              {"pause", "120"}});
  Built built;
  std::string error;
  ASSERT_TRUE(Build(work, before, after, options, &built, &error)) << error;
  EXPECT_EQ(Listing(built.patch),
            (std::vector<std::string>{"notice 1 first", "notice 7 fake.file", "notice 6", "notice 10",
                                      "delete old\\gone.dat", "delete zz_last_gone.txt",
                                      "notice 2 before exe", "notice 4 before exe too", "patch bin\\zav.exe",
                                      "patch common.ini", "notice 3 Error ept15: file not found", "notice 28",
                                      "add data\\new.pak", "add empty.txt", "notice 9 last"}));
  EXPECT_EQ(rtp::ReadU32(View(built.patch.notices[2].payload).data), 16u);
  EXPECT_EQ(built.patch.notices[3].delayMs, 120u);
  EXPECT_EQ(built.summary.notices, 9u);
}

TEST_F(PatchBuilder, HeaderControlsAndDelaysReachThePatch) {
  const rtp::BuildOptions options = Controls(
      {{"biggest", "52428800"}, {"announce", "9"}, {"delay-ms", "200"}, {"file-delay", "common.ini:1500"}});
  Built built;
  std::string error;
  ASSERT_TRUE(Build(work, before, after, options, &built, &error)) << error;
  EXPECT_EQ(rtp::ComputeCostV2(built.patch).biggest, 52428800u);
  EXPECT_EQ(built.patch.header.flags, rtp::kFlagBiggest | rtp::kFlagAnnounce);
  EXPECT_EQ(built.patch.header.announced, 9u);
  for (const rtp::TreeFile& file : built.patch.files)
    EXPECT_EQ(file.delayMs, file.name == "common.ini" ? 1500u : 200u) << file.name;

  TempFolder other;
  ASSERT_TRUE(
      Build(other, before, after, Controls({{"announce", "9"}, {"announce", "none"}}), &built, &error));
  EXPECT_EQ(built.patch.header.flags, rtp::kFlagNoAnnounce);
}

TEST_F(PatchBuilder, ControlsNamingNoFileOfThePatchAreRefused) {
  Built built;
  std::string error;
  EXPECT_FALSE(Build(work, before, after, Controls({{"at", "after:same.txt"}, {"notify-detail", "x"}}),
                     &built, &error));
  EXPECT_NE(error.find("same.txt"), std::string::npos) << error;
  EXPECT_FALSE(Build(work, before, after, Controls({{"file-delay", "nothere.txt:10"}}), &built, &error));
  EXPECT_NE(error.find("nothere.txt"), std::string::npos) << error;
}

TEST(PatchBuilderControls, WrongArgumentsAreRefusedWithAReason) {
  const std::vector<std::pair<std::string, std::string>> wrong = {
      {"biggest", "lots"},
      {"biggest", "4294967296"},
      {"announce", "-1"},
      {"delay-ms", "60001"},
      {"delay-ms", ""},
      {"file-delay", "a.txt"},
      {"file-delay", ":5"},
      {"at", "middle"},
      {"at", "before:"},
      {"notify-error", "x15"},
      {"notify-locked", "27"},
      {"notify", "0"},
      {"notify", "256:x"},
      {"notify", "26:x"},
      {"notify", "9"},
      {"notify", "5:high"},
      {"pause", "forever"},
      {"frobnicate", "1"},
      {"notify-detail", std::string("a\0b", 3)},
      {"notify-warning", std::string(4097, 'w')},
  };
  for (const auto& word : wrong) {
    rtp::Controls controls;
    std::string error;
    EXPECT_FALSE(controls.Add(word.first, word.second, &error)) << word.first << " " << word.second;
    EXPECT_FALSE(error.empty()) << word.first;
  }
  EXPECT_TRUE(rtp::Controls::IsWord("notify-error"));
  EXPECT_FALSE(rtp::Controls::IsWord("recipe"));
}

TEST(PatchBuilderControls, ARecipeIsTheSameWordsOneALineWithCommentsAndCrLf) {
  rtp::Controls controls;
  std::string error;
  const std::string recipe =
      "# a test recipe\r\n"
      "\r\n"
      "biggest 0x3200000\r\n"
      "  at end\n"
      "notify-warning  two  blanks inside  \n"
      "notify-error-text Exception ept36 after the first ept\n";
  ASSERT_TRUE(controls.AddRecipe(View(recipe), &error)) << error;
  const rtp::BuildOptions& options = controls.options();
  EXPECT_EQ(options.biggest, 52428800u);
  ASSERT_EQ(options.notices.size(), 2u);
  EXPECT_EQ(options.notices[0].place, rtp::Place::End);
  EXPECT_EQ(options.notices[0].notice.text, "two  blanks inside  ");
  EXPECT_EQ(options.notices[1].notice.id, rtp::kIdError);
  EXPECT_EQ(options.notices[1].notice.text, "Exception ept36 after the first ept");

  rtp::Controls bad;
  EXPECT_FALSE(bad.AddRecipe(View("biggest 1\n\nat nowhere\n"), &error));
  EXPECT_NE(error.find("line 3"), std::string::npos) << error;
}

}  // namespace
