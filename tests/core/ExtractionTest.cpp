// Extraction over an in-memory archive: the two files, the bars, and the failure ending.
#include <gtest/gtest.h>

#include "FakeRun.h"

using namespace core;
namespace {

const wchar_t kDll[] = L"T:\\tmp\\s1.1\\patchw32.dll";
const wchar_t kPatch[] = L"T:\\tmp\\s1.1\\zav.2.12.4526-2.12.4536.rtp";

TEST(Extraction, CopiesTheEngineAndThePatchUnderItsLowerCasedNameAndClosingRemovesThem) {
  FakeRun run;
  run.Start();
  EXPECT_TRUE(run.machine.threadStarted);
  EXPECT_TRUE(run.view.timers.count(kExtractTimerId));
  ASSERT_EQ(run.machine.files.size(), 2u) << "the notes are not extracted";
  EXPECT_EQ(run.machine.files[kDll], run.machine.entries[0].second);
  EXPECT_EQ(run.machine.files[kPatch], run.machine.entries[2].second);
  EXPECT_TRUE(run.machine.commandLine.empty()) << "the run waits for the timer's tick";
  EXPECT_EQ(run.view.details.back(), std::wstring(L"File \"") + kPatch + L"\" extracted.");
  EXPECT_EQ(run.view.fileStatus, L"S144(zav.2.12.4526-2.12.4536.rtp)");
  run.core.OnTimer(kExtractTimerId);
  EXPECT_EQ(run.machine.loaded, kDll);
  EXPECT_FALSE(run.view.timers.count(kExtractTimerId))
      << "the tick that takes the extraction stops the timer";
  run.core.DeleteTempFiles();  // the dialog closes
  EXPECT_TRUE(run.machine.files.empty());
  EXPECT_EQ(run.machine.removedFolders, std::vector<std::wstring>{L"T:\\tmp\\s1.1\\"});
}

TEST(Extraction, BarsFollowEveryChunkAndTheRunBarGoesOnFromTheFirstEntry) {
  FakeRun run;
  run.Start();
  // 9000 bytes are a chunk of 8092 and one of 908; the run holds 29000 bytes.
  const std::vector<int> file = {0, 89, 100, 0, 40, 80, 100};
  EXPECT_EQ(std::vector<int>(run.view.fileBar.begin(), run.view.fileBar.begin() + 7), file);
  const std::vector<int> total = {0, 0, 27, 31, 31, 58, 86, 100};
  EXPECT_EQ(run.view.totalBar, total);
}

TEST(Extraction, EntriesOfEverySizeAroundTheCopyBufferAreWrittenWhole) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{8091}, size_t{8092}, size_t{8093}, size_t{16185}}) {
    FakeRun run;
    run.machine.entries[0].second.assign(size, 'E');
    run.machine.entries[2].second.assign(size, 'P');
    run.Start();
    EXPECT_EQ(run.machine.files[kDll], run.machine.entries[0].second) << size;
    EXPECT_EQ(run.machine.files[kPatch], run.machine.entries[2].second) << size;
    if (size == 0) EXPECT_EQ(run.view.totalBar, std::vector<int>(run.view.totalBar.size(), 0));
  }
}

TEST(Extraction, AFailedWriteDeletesThePartialFileAndEndsOnTheRestartOutcomeOnce) {
  FakeRun run;
  run.machine.diskSpace = 9000 + 10000;  // the patch stops half way
  run.Start();
  EXPECT_EQ(run.machine.files.count(kPatch), 0u);
  EXPECT_EQ(run.view.details.back(), std::wstring(L"Error extracting \"") + kPatch + L"\"! Error 112");
  ASSERT_EQ(run.view.extractionFailures, 1);
  run.core.OnExtractFailed();
  EXPECT_EQ(run.view.boxes.size(), 1u);
  EXPECT_EQ(run.core.OutcomeCode(), static_cast<uint32_t>(OutcomeRestart));
  run.core.OnTimer(kExtractTimerId);
  EXPECT_EQ(run.view.pages.back(), PageFailed);
  EXPECT_TRUE(run.machine.commandLine.empty()) << "no run starts after a failed extraction";
}

TEST(Extraction, AFolderThatCannotBeMadeIsTriedOnceAndNamedInTheDetailsAndTheTimerStops) {
  FakeRun run;
  run.machine.makeFolderFails = true;
  run.Start();
  EXPECT_EQ(run.machine.foldersMade, 1);
  EXPECT_EQ(run.view.details[1], L"Error extracting \"T:\\tmp\\s1.1\\patchw32.dll\"! Unable to create file.");
  run.core.OnExtractFailed();
  EXPECT_TRUE(run.view.timers.empty());
}

TEST(Extraction, AnEntryNameThatIsNoPlainFileNameIsNeverWritten) {
  FakeRun run;
  run.machine.entries[2].first = L"..\\..\\ZAV.2.12.4526-2.12.4536.rtp";
  run.Start();
  EXPECT_EQ(run.machine.files.size(), 1u) << "only the engine library";
  EXPECT_EQ(run.view.extractionFailures, 1);
}

TEST(Extraction, TheCoreWaitsForTheExtractionThreadBeforeItGoes) {
  FakeMachine machine;
  RecordingView view;
  FakeTexts texts;
  {
    CRunCore core{view, RunPorts{texts, machine, machine, machine, machine, machine, machine}};
    core.SetPage(PageWelcome);
  }
  EXPECT_EQ(machine.joins, 1);
}

}  // namespace
