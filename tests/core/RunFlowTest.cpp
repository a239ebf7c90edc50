// The start sequence's loops and hand-offs, the patch run's notifications and the report address.
#include <gtest/gtest.h>

#include "FakeRun.h"

using namespace core;
namespace {

TEST(StartSequence, RetryRunsTheWholeSequenceAgainNestedInsideTheInstallingPage) {
  FakeRun run;
  run.machine.entries[2].first = L"ZAV.2.12.4526-2.12.4536_test.rtp";
  run.machine.clientRunning = {true, true, false};
  run.view.answers = {box::kAnswerYes, box::kAnswerRetry, box::kAnswerYes, box::kAnswerRetry,
                      box::kAnswerYes};
  run.Start();
  EXPECT_EQ(run.view.boxes.size(), 5u) << "the test-patch warning comes again with every retry";
  EXPECT_EQ(run.view.pages, (std::vector<int>{PageWelcome, PageInstalling, PageInstalling, PageInstalling}));
  EXPECT_TRUE(run.machine.threadStarted);
}

TEST(StartSequence, TheFolderDialogComesBackUntilItHoldsAClient) {
  FakeRun run;
  run.core.SetCommandLine(L"");
  run.view.folderAnswers = {{box::kAnswerOk, L"D:\\empty"}, {box::kAnswerOk, L"C:\\Games\\ZAV\\"}};
  run.Start();
  EXPECT_EQ(run.view.foldersAsked, 2);
  ASSERT_EQ(run.view.boxes.size(), 1u);
  EXPECT_EQ(run.view.boxes[0].text, L"S157");
  EXPECT_EQ(run.core.ClientFolder(), L"C:\\Games\\ZAV") << "stored without its trailing backslash";
  EXPECT_TRUE(run.machine.threadStarted) << "a folder chosen in the dialog needs no confirmation";
}

TEST(PatchRun, HandsTheEngineOneLineWithTheFolderAndTheUnclosedPatchPath) {
  FakeRun run;
  run.machine.script = {{6, "", 2, true}, {7, "a"}, {5, "", 0x4000, true}, {7, "b"}, {26, ""}};
  run.view.answers = {box::kAnswerYes};
  run.Start();
  run.core.OnTimer(99);
  EXPECT_TRUE(run.machine.commandLine.empty()) << "only timer 100 starts the run";
  run.core.OnTimer(kExtractTimerId);
  run.core.OnTimer(kExtractTimerId);
  EXPECT_EQ(run.machine.commandLine, "\"C:\\Games\\ZAV\" \"T:\\tmp\\s1.1\\zav.2.12.4526-2.12.4536.rtp");
  EXPECT_EQ(run.machine.replies.size(), 5u) << "one run, every notification answered";
  EXPECT_EQ(run.view.fileStatus, L"S142(2,2,b)");
  EXPECT_EQ(run.view.totalBar.back(), 100);
  EXPECT_EQ(run.view.fileBar.back(), 50) << "the second file's start shows two quarters";
  EXPECT_EQ(run.machine.touched, std::vector<std::wstring>{L"C:\\Games\\ZAV\\script\\compiled.code"});
  EXPECT_EQ(run.core.Page(), PageFinished);
  EXPECT_EQ(run.machine.restarts, 1) << "a locked file asks to restart, answered Yes";
}

TEST(StartSequence, TheFirstEntryCountsTowardTheRequiredOnes) {
  FakeRun run;
  run.machine.entries.erase(run.machine.entries.begin() + 1);  // the engine first, then the patch
  run.Start();
  EXPECT_TRUE(run.machine.threadStarted);
}

TEST(StartSequence, ABadPathFallsBackToTheDefaultFolderOrTheFolderDialog) {
  const std::wstring def = L"c:\\program files\\norrat\\zav", games = L"C:\\Games\\ZAV";
  const struct {
    const wchar_t* commandLine;
    std::set<std::wstring> clients;
    int answer;  // to the default folder's question
    int foldersAsked;
    std::wstring folder;
  } cases[] = {
      {L"path=D:\\none", {def}, box::kAnswerYes, 0, def},
      {L"path=D:\\none", {games}, box::kAnswerOk, 1, games},  // no default folder either
      {L"", {def, games}, box::kAnswerNo, 1, games},
  };
  for (const auto& c : cases) {
    FakeRun run;
    run.core.SetCommandLine(c.commandLine);
    run.machine.clients = c.clients;
    run.machine.builds[c.folder + L"\\common.ini"] = 4526;
    run.view.answers = {c.answer};
    run.view.folderAnswers = {{box::kAnswerOk, games}};
    run.Start();
    EXPECT_EQ(run.view.foldersAsked, c.foldersAsked) << c.folder;
    EXPECT_EQ(run.core.ClientFolder(), c.folder);
    EXPECT_TRUE(run.machine.threadStarted);
  }
}

TEST(Pages, CancelWithNoRunGoingClosesTheDialogWithTheButtonsId) {
  FakeRun run;
  run.core.SetPage(PageWelcome);
  run.core.OnCancel(box::kAnswerCancel);
  EXPECT_EQ(run.view.closedWith, kExitCancelled);
}

TEST(StartSequence, AnInterruptedRunIsUndoneBeforeTheBuildIsReadSoTheEngineRunsAgain) {
  FakeRun run;
  run.machine.builds[L"C:\\Games\\ZAV\\common.ini"] = 4536;  // the half-patched client's new build
  run.machine.buildsOnceRecovered = {{L"C:\\Games\\ZAV\\common.ini", 4526}};
  run.machine.script = {{6, "", 1, true}, {7, "a"}};
  run.Start();
  run.core.OnTimer(kExtractTimerId);
  EXPECT_EQ(run.machine.recovered, std::vector<std::wstring>{L"C:\\Games\\ZAV"});
  EXPECT_FALSE(run.machine.commandLine.empty()) << "not the same-version page";
}

TEST(Pages, EnterActsOnlyOnTheWelcomePage) {
  FakeRun run;
  run.machine.script = {{6, "", 1, true}, {7, "a"}};
  run.Start();
  for (int page : {PageInstalling, PageFinished, PageFailed}) {
    if (page == PageFinished) run.core.OnTimer(kExtractTimerId);
    if (page == PageFailed) run.core.SetPage(PageFailed);
    const size_t shown = run.view.pages.size();
    run.core.OnOK();
    EXPECT_EQ(run.core.Page(), page);
    EXPECT_EQ(run.view.pages.size(), shown) << "page " << page;
  }
}

TEST(Pages, TheFinishedPageShowsNoEarlierHint) {
  FakeRun run;
  run.core.EndRun(Ending::Failed().WithOutcome(OutcomeSupport));
  run.core.SetPage(PageFinished);
  EXPECT_EQ(run.core.Hint(), L"");
}

TEST(PatchRun, AFolderTheCodePageCannotWriteGoesToTheEngineByItsShortForm) {
  FakeRun run;
  const std::wstring folder = L"C:\\Games\\\u0e01\u0e02";
  run.core.SetCommandLine(L"path=\"" + folder + L"\"");
  run.machine.clients = {folder};
  run.machine.builds[folder + L"\\common.ini"] = 4526;
  run.machine.shortPaths[folder] = L"C:\\Games\\E01~1";
  run.machine.script = {{6, "", 1, true}, {7, "a"}};
  run.Start();
  run.core.OnTimer(kExtractTimerId);
  EXPECT_EQ(run.machine.commandLine, "\"C:\\Games\\E01~1\" \"T:\\tmp\\s1.1\\zav.2.12.4526-2.12.4536.rtp");
  EXPECT_EQ(run.core.Page(), PageFinished);
}

TEST(ErrorReport, EscapesWhatWouldSplitOrChangeTheDetailAndMarksATestPatch) {
  FakeRun run;
  run.machine.entries[2].first = L"ZAV.2.12.4526-2.12.4536_test.rtp";
  run.machine.script = {{6, "", 2, true}, {7, "a"}, {3, "Error ept0042: a&b+c#d%e f"}};
  run.view.answers = {box::kAnswerYes};
  run.Start();
  run.core.OnTimer(kExtractTimerId);
  run.core.ReportError();
  EXPECT_EQ(run.machine.opened.back(),
            L"https://update.lanxingji.example/patches/patches.asp?action=patcherror&do=0&n=4526&from=4526"
            L"&to=4536&err=Error ept0042: a%26b%2Bc%23d%25e f&test=1");
}

}  // namespace
