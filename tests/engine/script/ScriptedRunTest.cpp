// The scripted test engine the installer's tests run: its script's notices, delays, file count and cost
// reach the caller where the script puts them, around a real run of the patch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "ScriptedRun.h"
#include "engine/apply/Errors.h"

namespace {

using enginetest::Call;
using enginetest::ReadTree;
using enginetest::RecordingListener;
using enginetest::Tree;
using enginetest::View;

class ScriptedRun : public ::testing::Test {
 protected:
  void SetUp() override {
    before = {{"a.txt", "old a"}, {"b.txt", "old b"}, {"gone.txt", "bye"}};
    after = {{"a.txt", "new a"}, {"b.txt", "new b"}, {"c.txt", "new c"}};
    patch = enginetest::BuildBetween(work.path() / "build", before, after);
    enginetest::WriteTree(client(), before);
  }
  enginetest::fs::path client() const { return work.path() / "client"; }

  uint32_t Run(const std::string& lines) {
    const std::string file = enginetest::ScriptedPatch(lines, patch);
    rtp::MemorySource source(View(file));
    rtp::PosixFileSystem fs(client().string());
    return enginetest::RunScripted(source, fs, listener, [this](uint32_t ms) { sleeps.push_back(ms); });
  }
  // The callbacks as "id text" lines, progress and heartbeats left out.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const Call& call : listener.calls)
      if (call.id != rtp::kIdProgress && call.id != rtp::kIdHeartbeat)
        lines.push_back(testing::PrintToString(call));
    return lines;
  }

  enginetest::TempFolder work;
  Tree before, after;
  std::string patch;
  RecordingListener listener;
  std::vector<uint32_t> sleeps;
};

TEST_F(ScriptedRun, NoticesArriveInPlaceWithTheirParameterForm) {
  const std::string chinese = "\xC4\xE3\xBA\xC3";  // two characters in code page 936
  ASSERT_EQ(Run("notify-warning w1 " + chinese +
                "\nnotify 6:3\nnotify 99\nat before:B.TXT\nnotify-locked 26\nat after:b.txt\n"
                "notify-warning2 w2\nat end\nnotify-detail last\nat start\nnotify-warning4 w4\n"),
            rtp::kOk);
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{"6 0x4", "1 \"w1 " + chinese + "\"", "6 0x3", "99 (null)", "4 \"w4\"",
                                      "7 \"gone.txt\"", "7 \"a.txt\"", "26 (null)", "7 \"b.txt\"", "2 \"w2\"",
                                      "7 \"c.txt\"", "9 \"Deleted gone.txt\"", "9 \"Patched a.txt\"",
                                      "9 \"Patched b.txt\"", "9 \"Added c.txt\"", "9 \"last\""}));
  EXPECT_EQ(ReadTree(client()), after);
}

TEST_F(ScriptedRun, AnErrorNoticeStopsTheRunThoughTheCallbackSaidContinueAndTheOldFilesStay) {
  EXPECT_EQ(Run("at after:a.txt\nnotify-error 36\n"), 36u);
  EXPECT_EQ(listener.calls.back().text, "Error ept36: file does not match (size or CRC-32)");
  EXPECT_EQ(ReadTree(client()), before);
  // After the last file's line, before the run is finished: the first "ept" has no number, so 1.
  listener.calls.clear();
  EXPECT_EQ(Run("at end\nnotify-error-text Exception ept36 later ept9\n"), 1u);
  EXPECT_EQ(listener.calls.back().text, "Exception ept36 later ept9");
  EXPECT_EQ(ReadTree(client()), before);
}

TEST_F(ScriptedRun, TheFileCountCanBeReplacedOrLeftOut) {
  ASSERT_EQ(Run("announce 100\n"), rtp::kOk);
  EXPECT_EQ(listener.calls[0].number, 100u);
  enginetest::WriteTree(client(), before);
  listener.calls.clear();
  ASSERT_EQ(Run("announce none\n"), rtp::kOk);
  EXPECT_TRUE(listener.Of(rtp::kIdFileCount).empty());
}

TEST_F(ScriptedRun, DelaysAndPausesWaitInSlicesOfAtMost50MsWithACallbackAfterEach) {
  ASSERT_EQ(Run("delay-ms 200\nfile-delay A.TXT:1000\nat end\npause 230\n"), rtp::kOk);
  uint32_t slept = 0;
  for (uint32_t slice : sleeps) {
    EXPECT_LE(slice, rtp::kHeartbeatMs);
    slept += slice;
  }
  EXPECT_EQ(slept, 3 * 200u + 1000u + 230u);
  // Five slices of the pause, a heartbeat after each, and the pause's own.
  EXPECT_EQ(listener.Of(rtp::kIdHeartbeat).size(), 6u);
  EXPECT_GE(listener.Of(rtp::kIdProgress).size(), sleeps.size());
  EXPECT_EQ(ReadTree(client()), after);
}

TEST_F(ScriptedRun, TheCostIsThePatchsUnlessTheScriptGivesOne) {
  rtp::MemorySource plain(View(patch));
  rtp::PatchCost own, cost;
  rtp::FormatError error;
  ASSERT_TRUE(rtp::ReadPatchCost(plain, &own, &error));
  for (const auto& [lines, biggest] :
       std::vector<std::pair<std::string, uint32_t>>{{"", own.biggest}, {"biggest 0x3200000", 52428800u}}) {
    const std::string file = enginetest::ScriptedPatch(lines, patch);
    rtp::MemorySource source(View(file));
    ASSERT_EQ(enginetest::ScriptedCost(source, &cost), rtp::kOk);
    EXPECT_EQ(cost.biggest, biggest) << lines;
    EXPECT_EQ(cost.files, own.files);
  }
}

TEST(EngineScriptWords, WrongArgumentsAreRefusedWithAReasonAndItsLine) {
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
    enginetest::ScriptReader reader;
    std::string error;
    EXPECT_FALSE(reader.Add(word.first, word.second, &error)) << word.first << " " << word.second;
    EXPECT_FALSE(error.empty()) << word.first;
  }
  enginetest::ScriptReader reader;
  std::string error;
  ASSERT_TRUE(reader.AddLines("# comment\r\n\r\n  at end\nnotify-warning  two  blanks  \r\n", &error))
      << error;
  ASSERT_EQ(reader.script().notices.size(), 1u);
  EXPECT_EQ(reader.script().notices[0].text, "two  blanks  ");
  EXPECT_FALSE(enginetest::ScriptReader().AddLines("biggest 1\n\nat nowhere\n", &error));
  EXPECT_NE(error.find("line 3"), std::string::npos) << error;
}

}  // namespace
