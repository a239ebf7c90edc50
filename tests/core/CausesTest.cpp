// Every cause that ends a run on a result page, each with the box shown last, the outcome, message,
// report detail and page it leaves.
#include <gtest/gtest.h>

#include "FakeRun.h"

using namespace core;
namespace {

using Note = FakeMachine::Note;

// The client at build 4526 in `folder`, named on the command line.
void ClientIn(FakeRun& r, const std::wstring& folder) {
  r.core.SetCommandLine(L"path=\"" + folder + L"\"");
  r.machine.clients = {folder};
  r.machine.builds[folder + L"\\common.ini"] = 4526;
}

// The engine's cost check before a one-file run: `biggest` bytes against `freeMB` on the client's volume.
std::function<void(FakeRun&)> CostOf(uint32_t biggest, uint32_t freeMB) {
  return [=](FakeRun& r) {
    r.machine.hasCost = true;
    r.machine.biggest = biggest;
    r.machine.freeMB = freeMB;
    r.machine.script = {{6, "", 1, true}, {7, "a"}};
  };
}

const std::wstring kThaiFolder = L"C:\\Games\\\u0e01";  // no form in the ANSI code page
const std::wstring kDeepFolder = L"C:\\" + std::wstring(500, L'x');

struct Cause {
  const char* name;
  std::function<void(FakeRun&)> arrange;
  bool runEngine;      // the run goes on to the timer's tick
  const wchar_t* box;  // text of the last box shown; null: none at all
  const wchar_t* caption;
  uint32_t style;
  uint32_t outcome;
  const wchar_t* message;
  const wchar_t* detail;
  int page;
};

const Cause kCauses[] = {
    {"ArchiveLacksEntries", [](FakeRun& r) { r.machine.entries.resize(1); }, false, L"S137", L"S134",
     box::kIconHand, OutcomeSupport, L"S137", L"S137", PageFailed},
    {"TestPatchRefused",
     [](FakeRun& r) {
       r.machine.entries[2].first = L"ZAV.2.12.4526-2.12.4536_test.rtp";
       r.view.answers = {box::kAnswerCancel};
     },
     false, L"S167(C:\\Games\\ZAV)", L"S168", box::kYesNoCancel | box::kIconExclamation, OutcomeNone, L"S154",
     L"", PageFailed},
    {"ClientStillRunning",
     [](FakeRun& r) {
       r.machine.clientRunning = {true};
       r.view.answers = {box::kAnswerCancel};
     },
     false, L"S135", L"S168", box::kRetryCancel | box::kIconHand, OutcomeRestart, L"S162", L"", PageFailed},
    {"FolderSelectionCancelled",  // the box is the default folder's confirmation before the dialog
     [](FakeRun& r) {
       r.core.SetCommandLine(L"");
       r.machine.clients = {L"c:\\program files\\norrat\\zav"};
       r.view.answers = {box::kAnswerNo};
     },
     false, L"S159", L"S168", box::kYesNo | box::kIconInformation, OutcomeNone, L"S154", L"", PageFailed},
    {"NoClientFound", [](FakeRun& r) { r.core.SetCommandLine(L""); }, false, L"S158", L"S134", box::kIconHand,
     OutcomeReinstallClient, L"S158", L"Client Not Installed", PageFailed},
    {"PatchVersionsUnreadable", [](FakeRun& r) { r.machine.entries[2].first = L"zav-4536.rtp"; }, false,
     L"S139", L"S134", box::kIconHand, OutcomeNewPatch, L"S139", L"S139", PageFailed},
    {"SameVersion", [](FakeRun& r) { r.machine.builds[L"C:\\Games\\ZAV\\common.ini"] = 4536; }, false,
     L"S151(4536)", L"S168", box::kIconInformation, OutcomeNone, L"S145", L"", PageFinished},
    {"WrongVersion", [](FakeRun& r) { r.machine.builds[L"C:\\Games\\ZAV\\common.ini"] = 4500; }, false,
     L"S138(4500,4526)", L"S134", box::kIconHand, OutcomeNewPatch, L"S138(4500,4526)",
     L"Wrong Version. Need 4526", PageFailed},
    {"ExtractionFailed", [](FakeRun& r) { r.machine.makeFolderFails = true; }, false, L"S163", L"S134",
     box::kIconHand, OutcomeRestart, L"S163", L"", PageFailed},
    {"EngineDoesNotLoad", [](FakeRun& r) { r.machine.loadable = false; }, true, L"S141", L"S134",
     box::kIconHand, OutcomeSupport, L"S141", L"S141", PageFailed},
    {"NotEnoughDiskSpace",
     [](FakeRun& r) {
       r.machine.hasCost = true;
       r.machine.biggest = 52428800;
       r.machine.freeMB = 49;
     },
     true, L"S166(50,49)", L"", box::kIconHand, OutcomeNone, L"S166(50,49)", L"", PageFailed},
    {"CostThatJustFits", CostOf(50u << 20, 50), true, nullptr, L"", box::kOk, OutcomeNone, L"S145", L"",
     PageFinished},
    {"FreeSpaceUnknown", CostOf(50u << 20, 0), true, nullptr, L"", box::kOk, OutcomeNone, L"S145", L"",
     PageFinished},
    {"OneMegabyteShort", CostOf(2u << 20, 1), true, L"S166(2,1)", L"", box::kIconHand, OutcomeNone,
     L"S166(2,1)", L"", PageFailed},
    {"TemporaryDriveTooSmall",  // 1.5 MB to extract, 1 MB free: before anything is extracted
     [](FakeRun& r) {
       r.machine.entries[2].second.assign(3u << 19, 'p');
       r.machine.tempFreeMB = 1;
     },
     false, L"S166(2,1)", L"", box::kIconHand, OutcomeNone, L"S166(2,1)", L"", PageFailed},
    {"EngineRefusesForDiskSpace",  // a need of 4 GiB and more passes the cost check
     [](FakeRun& r) {
       r.machine.script = {{6, "", 1, true},
                           {3, "Error ept22: not enough disk space: need 5000 MB, free 4090 MB"}};
     },
     true, L"S166(5000,4090)", L"", box::kIconHand, OutcomeNone, L"S166(5000,4090)", L"", PageFailed},
    {"EngineWithoutApplyEntry",  // only the box: the installing page stays and Cancel closes
     [](FakeRun& r) { r.machine.hasApply = false; }, true, L"Very weird error! Error binding to dll, 127",
     L"", box::kIconHand, OutcomeNone, L"", L"", PageInstalling},
    {"EngineError",
     [](FakeRun& r) {
       r.machine.script = {
           {6, "", 3, true}, {7, "data\\maps.pak"}, {3, "Error ept0036: CRC"}, {9, "stopped"}};
     },
     true, L"S147(data\\maps.pak,S155)", L"S134", box::kIconHand, OutcomeReinstallClient,
     L"S147(data\\maps.pak,S155)", L"Error ept0036: CRC", PageFailed},
    {"CancelWhileTheEngineRuns",
     [](FakeRun& r) {
       r.machine.script = {{6, "", 2, true}, {7, "a"}, {9, "stopped"}};
       r.view.onPump = [&r] {
         if (r.view.fileStatus == L"S142(1,2,a)") r.core.OnCancel(box::kAnswerCancel);
       };
     },
     true, nullptr, L"", box::kOk, OutcomeNone, L"S154", L"", PageFailed},
    {"EveryAnnouncedFileStarted",
     [](FakeRun& r) {
       r.machine.script = {{6, "", 1, true}, {7, "a"}};
     },
     true, nullptr, L"", box::kOk, OutcomeNone, L"S145", L"", PageFinished},
    {"EngineErrorAfterTheLastFile",
     [](FakeRun& r) {
       r.machine.script = {{6, "", 1, true}, {7, "a"}, {3, "Error ept0015: gone"}, {9, "x"}};
     },
     true, L"S147(a,S148)", L"S134", box::kIconHand, OutcomeReinstallClient, L"S147(a,S148)",
     L"Error ept0015: gone", PageFailed},
    {"CancelAfterTheLastFile",
     [](FakeRun& r) {
       r.machine.script = {{6, "", 1, true}, {7, "a"}, {9, "stopped"}};
       r.view.onPump = [&r] {
         if (r.view.fileStatus == L"S142(1,1,a)") r.core.OnCancel(box::kAnswerCancel);
       };
     },
     true, nullptr, L"", box::kOk, OutcomeNone, L"S154", L"", PageFailed},
    {"EngineStoppedEarly",
     [](FakeRun& r) {
       r.machine.script = {{6, "", 3, true}, {7, "a"}};
     },
     true, nullptr, L"", box::kOk, OutcomeSupport, L"S170", L"Engine stopped early (1 of 3 files)",
     PageFailed},
    {"PathNotUsableByTheEngine", [](FakeRun& r) { ClientIn(r, kThaiFolder); }, true,
     L"S171(C:\\Games\\\u0e01)", L"S134", box::kIconHand, OutcomeSupport, L"S171(C:\\Games\\\u0e01)",
     L"Path not usable by the engine", PageFailed},
    {"CommandLineTooLong", [](FakeRun& r) { ClientIn(r, kDeepFolder); }, true, nullptr, L"S134",
     box::kIconHand, OutcomeSupport, nullptr, L"Command line too long", PageFailed},
};

class RunEnds : public ::testing::TestWithParam<Cause> {};

TEST_P(RunEnds, WithTheBoxOutcomeMessageDetailAndPageOfItsCause) {
  const Cause& cause = GetParam();
  FakeRun run;
  cause.arrange(run);
  run.Start();
  if (run.view.extractionFailures != 0) run.core.OnExtractFailed();
  if (cause.runEngine) run.core.OnTimer(kExtractTimerId);

  if (cause.message == nullptr) {  // the box and the message name a path too long to write here
    ASSERT_FALSE(run.view.boxes.empty());
    EXPECT_EQ(run.view.boxes.back().text, L"S171(" + kDeepFolder + L")");
    EXPECT_EQ(run.core.Message(), run.view.boxes.back().text);
  } else if (cause.box == nullptr) {
    EXPECT_TRUE(run.view.boxes.empty());
  } else {
    ASSERT_FALSE(run.view.boxes.empty());
    EXPECT_EQ(run.view.boxes.back().text, cause.box);
    EXPECT_EQ(run.view.boxes.back().caption, cause.caption);
    EXPECT_EQ(run.view.boxes.back().style, cause.style);
  }
  EXPECT_EQ(run.core.OutcomeCode(), cause.outcome);
  if (cause.message != nullptr) EXPECT_EQ(run.core.Message(), cause.message);
  EXPECT_EQ(run.core.ReportDetail(), cause.detail);
  EXPECT_EQ(run.core.Page(), cause.page);
  EXPECT_EQ(run.view.pages.back(), cause.page);
  EXPECT_EQ(run.machine.frees, cause.runEngine && run.machine.loadable ? 1 : 0)
      << "a loaded library is freed once, whichever way the run ends";
  EXPECT_EQ(run.machine.touched.empty(), cause.page != PageFinished || !cause.runEngine)
      << "only a whole run stamps the client";
}

INSTANTIATE_TEST_SUITE_P(EveryCause, RunEnds, ::testing::ValuesIn(kCauses),
                         [](const ::testing::TestParamInfo<Cause>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
