// The start sequence: what happens when the user presses start. It checks the archive, finds and confirms
// the client folder, compares the installed build with the patch's builds, and either ends on a result
// page or starts the extraction that leads to the patch run.
#include "core/RunCore.h"
#include "rules/ArchiveRules.h"
#include "rules/CommandLine.h"
#include "rules/Format.h"
#include "rules/PatchName.h"
#include "rules/PathRules.h"
#include "rules/Product.h"
#include "rules/resource.h"

namespace core {

using namespace rules;

bool CRunCore::CheckArchive() {
  ArchiveScan scan;
  scan.testPatch = mTestPatch;
  scan.notesName = mNotesName;
  for (uint32_t index = 0;; ++index) {
    const std::wstring name = mArchive.EntryName(index);
    if (name.empty()) break;
    ScanArchiveName(mTexts.Lower(name), &scan);
  }
  mTestPatch = scan.testPatch;
  mNotesName = scan.notesName;
  return scan.complete;
}

std::wstring CRunCore::FindPatchEntry() {
  for (uint32_t index = 0;; ++index) {
    const std::wstring name = mArchive.EntryName(index);
    if (name.empty()) return name;
    std::wstring lower = mTexts.Lower(name);
    if (IsPatchEntryName(lower)) return lower;
  }
}

bool CRunCore::ParsePatchVersions() {
  mFromVersion = Version{};
  mToVersion = Version{};
  const std::wstring name = FindPatchEntry();
  return !name.empty() && ParsePatchName(name, &mFromVersion, &mToVersion);
}

uint32_t CRunCore::ReadInstalledBuild(const wchar_t* fileName) {
  if (mZavPath.empty()) mSystem.Trace(L"ReadInstalledBuild: no client folder\n");
  return mProbes.ReadBuildFile(JoinPath(mZavPath, fileName));
}

CRunCore::FolderLoop CRunCore::AskForFolder(std::wstring* folder) {
  for (;;) {
    const int result = mView.AskFolder(folder);
    if (result == box::kAnswerCancel) return FolderLoop::Cancelled;
    if (result != box::kAnswerOk) return FolderLoop::NotShown;
    if (mProbes.IsClientFolder(*folder)) return FolderLoop::Accepted;
    ShowMessage(IDS_FOLDER_WITHOUT_CLIENT, kErrorMessage);
  }
}

// Every step either goes on or has ended the run on a result page (or, on Retry, started it again).
void CRunCore::StartUpdate() {
  if (!CheckArchive()) {
    EndRun(Ending::FailedWithError(mTexts, IDS_FILES_MISSING, OutcomeSupport));
    return;
  }
  std::wstring candidate = GetCommandLineValue(mCmdLine, L"path");
  for (wchar_t& c : candidate) {
    if (c == L'/') c = L'\\';
  }
  if (ConfirmTestPatch(&candidate) == Step::Ended || CloseClient() == Step::Ended ||
      ChooseClientFolder(candidate) == Step::Ended) {
    return;
  }
  if (!ParsePatchVersions()) {
    EndRun(Ending::FailedWithError(mTexts, IDS_NO_PATCH_VERSION, OutcomeNewPatch));
    return;
  }
  if (CompareBuilds() == Step::Ended || CheckTempSpace() == Step::Ended) return;

  // The timer's ticks are handled only after this returns, so it may start before the extraction.
  mView.StartTimer(kExtractTimerId, kExtractTimerPeriodMs);
  mExtraction.StartExtraction(FindPatchEntry());
}

// The engine library and the patch file go to the temporary folder, on the system drive as often as not:
// the run ends with the disk-space message when its drive cannot take them (0 free: it cannot be told).
CRunCore::Step CRunCore::CheckTempSpace() {
  uint32_t need = 0, free = 0;
  if (mExtraction.TempHasRoom(FindPatchEntry(), &need, &free)) return Step::GoOn;
  EndRun(Ending::DiskFull(mTexts, need, free));
  return Step::Ended;
}

// A test patch names the folder it found on the command line and asks whether to use it; No leaves the
// folder to be chosen.
CRunCore::Step CRunCore::ConfirmTestPatch(std::wstring* candidate) {
  if (!mTestPatch) return Step::GoOn;
  if (candidate->empty()) {
    ShowMessage(IDS_TEST_PATCH_LOCATE, box::kIconExclamation);
    return Step::GoOn;
  }
  const int answer = mView.ShowBox(FormatText(Load(IDS_TEST_PATCH_CONFIRM), {*candidate}),
                                   Load(IDS_MESSAGE_CAPTION), box::kYesNoCancel | box::kIconExclamation);
  if (answer == box::kAnswerCancel) {
    EndRun(Ending::Failed().WithOutcome(OutcomeNone).WithMessage(Load(IDS_CANCELLED)));
    return Step::Ended;
  }
  if (answer == box::kAnswerNo) candidate->clear();
  return Step::GoOn;
}

CRunCore::Step CRunCore::CloseClient() {
  if (mProbes.CloseRunningClient()) return Step::GoOn;
  if (ShowMessage(IDS_CLIENT_RUNNING_RETRY, box::kRetryCancel | box::kIconHand) == box::kAnswerRetry) {
    SetPage(mPage);  // the whole sequence again, from the archive check
    return Step::Ended;
  }
  EndRun(Ending::Failed().WithOutcome(OutcomeRestart).WithMessage(Load(IDS_CLIENT_STILL_RUNNING)));
  return Step::Ended;
}

// The folder from the command line when it holds a client; else the default folder, confirmed by the
// user; else the folder dialog until it returns a client folder.
CRunCore::Step CRunCore::ChooseClientFolder(std::wstring candidate) {
  const bool supplied = !candidate.empty();
  bool chosenInDialog = false;
  if (!supplied || !mProbes.IsClientFolder(candidate)) {
    mSystem.Trace(FormatText(L"Path not supplied or was bad (%s). Let's check the registry", {candidate}));
    candidate = DefaultClientFolder;
    // A test patch never goes to the default folder without the user choosing it.
    if (mTestPatch || !mProbes.IsClientFolder(candidate)) {
      candidate.clear();
      chosenInDialog = AskForFolder(&candidate) == FolderLoop::Accepted;
    }
  }
  if (!supplied && !chosenInDialog && !candidate.empty()) {
    const int answer = mView.ShowBox(FormatText(Load(IDS_CONFIRM_FOLDER), {candidate}),
                                     Load(IDS_MESSAGE_CAPTION), box::kYesNo | box::kIconInformation);
    if (answer != box::kAnswerYes && AskForFolder(&candidate) == FolderLoop::Cancelled) {
      EndRun(Ending::Failed().WithMessage(Load(IDS_CANCELLED)));
      return Step::Ended;
    }
  }
  if (!mProbes.IsClientFolder(candidate)) {
    EndRun(Ending::Failed()
               .WithBox(BoxOf(mTexts, IDS_CLIENT_NOT_FOUND, kErrorMessage))
               .WithOutcome(OutcomeReinstallClient)
               .WithMessage(Load(IDS_CLIENT_NOT_FOUND))
               .WithReportDetail(L"Client Not Installed"));
    return Step::Ended;
  }
  if (!candidate.empty() && candidate.back() == L'\\') candidate.pop_back();
  mZavPath = candidate;
  return Step::GoOn;
}

// The installed build against the patch's: the same as its target ends finished, anything but its
// source ends failed.
CRunCore::Step CRunCore::CompareBuilds() {
  // A run killed half-way may have left new files beside old ones: "build=" is read only once the
  // client is whole again (the engine would otherwise never be asked to finish the work).
  if (!mProbes.RecoverInterruptedPatch(mZavPath))
    mSystem.Trace(L"StartUpdate: an interrupted patch run could not be undone; the engine tries again\n");
  mInstalledBuild = 0;
  for (const wchar_t* file : BuildFiles)
    if (mInstalledBuild == 0) mInstalledBuild = ReadInstalledBuild(file);

  const uint32_t fromBuild = static_cast<uint32_t>(mFromVersion.build);
  const uint32_t toBuild = static_cast<uint32_t>(mToVersion.build);
  if (mInstalledBuild == toBuild) {
    const std::wstring same = FormatText(Load(IDS_SAME_VERSION), {toBuild});
    EndRun(Ending::Finished()
               .WithBox(Box{same, Load(IDS_MESSAGE_CAPTION), box::kOk | box::kIconInformation})
               .WithOutcome(OutcomeNone)
               .WithMessage(same));
    return Step::Ended;
  }
  if (mInstalledBuild != fromBuild) {
    const std::wstring wrong = FormatText(Load(IDS_WRONG_VERSION), {mInstalledBuild, fromBuild});
    EndRun(Ending::Failed()
               .WithBox(Box{wrong, Load(IDS_ERROR_CAPTION), box::kOk | box::kIconHand})
               .WithOutcome(OutcomeNewPatch)
               .WithMessage(wrong)
               .WithReportDetail(FormatText(L"Wrong Version. Need %u", {fromBuild})));
    return Step::Ended;
  }
  return Step::GoOn;
}

}  // namespace core
