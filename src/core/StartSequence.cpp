// The start sequence's steps, and what the welcome page reads from the archive.
#include "core/StartSequence.h"

#include <cstring>

#include "rules/ArchiveRules.h"
#include "rules/CommandLine.h"
#include "rules/Format.h"
#include "rules/PatchName.h"
#include "rules/PathRules.h"
#include "rules/Product.h"
#include "rules/resource.h"

namespace core {

using namespace rules;

CStartSequence::CStartSequence(RunView& view, Texts& texts, ClientProbes& probes, SystemActions& system,
                               ArchiveEntries& archive, ExtractionStart& extraction, RunEnd& end)
    : mView(view),
      mTexts(texts),
      mProbes(probes),
      mSystem(system),
      mArchive(archive),
      mExtraction(extraction),
      mEnd(end) {}

int CStartSequence::ShowMessage(uint32_t stringId, uint32_t style) {
  const Box shown = BoxOf(mTexts, stringId, style);
  return mView.ShowBox(shown.text, shown.caption, shown.style);
}

bool CStartSequence::CheckArchive() {
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

std::wstring CStartSequence::FindPatchEntry() {
  for (uint32_t index = 0;; ++index) {
    const std::wstring name = mArchive.EntryName(index);
    if (name.empty()) return name;
    std::wstring lower = mTexts.Lower(name);
    if (IsPatchEntryName(lower)) return lower;
  }
}

bool CStartSequence::ParsePatchVersions() {
  mFromVersion = Version{};
  mToVersion = Version{};
  const std::wstring name = FindPatchEntry();
  return !name.empty() && ParsePatchName(name, &mFromVersion, &mToVersion);
}

void CStartSequence::ShowPatchNotes() {
  if (mNotesName.empty()) return;
  uint32_t size = 0;
  const uint8_t* bytes = mArchive.MapEntry(mNotesName, &size);
  if (bytes == nullptr) return;
  // The document ends at its first zero byte.
  const void* zero = std::memchr(bytes, 0, size);
  const size_t length = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - bytes) : size;
  const std::wstring notes = mTexts.Widen(reinterpret_cast<const char*>(bytes), length);
  mArchive.UnmapEntry(bytes);
  mView.ShowNotes(notes);
}

uint32_t CStartSequence::ReadInstalledBuild(const wchar_t* fileName) {
  if (mZavPath.empty()) mSystem.Trace(L"ReadInstalledBuild: no client folder\n");
  return mProbes.ReadBuildFile(JoinPath(mZavPath, fileName));
}

CStartSequence::FolderLoop CStartSequence::AskForFolder(std::wstring* folder) {
  for (;;) {
    const int result = mView.AskFolder(folder);
    if (result == box::kAnswerCancel) return FolderLoop::Cancelled;
    if (result != box::kAnswerOk) return FolderLoop::NotShown;
    if (mProbes.IsClientFolder(*folder)) return FolderLoop::Accepted;
    ShowMessage(IDS_FOLDER_WITHOUT_CLIENT, kErrorMessage);
  }
}

// Every step either goes on, or has ended the run on a result page, or asks for the sequence again.
CStartSequence::Step CStartSequence::StartUpdate() {
  if (!CheckArchive()) {
    mEnd.EndRun(Ending::FailedWithError(mTexts, IDS_FILES_MISSING, OutcomeSupport));
    return Step::Ended;
  }
  std::wstring candidate = GetCommandLineValue(mCmdLine, L"path");
  for (wchar_t& c : candidate) {
    if (c == L'/') c = L'\\';
  }
  Step step = ConfirmTestPatch(&candidate);
  if (step == Step::GoOn) step = CloseClient();
  if (step == Step::GoOn) step = ChooseClientFolder(candidate);
  if (step != Step::GoOn) return step;
  if (!ParsePatchVersions()) {
    mEnd.EndRun(Ending::FailedWithError(mTexts, IDS_NO_PATCH_VERSION, OutcomeNewPatch));
    return Step::Ended;
  }
  step = CompareBuilds();
  if (step == Step::GoOn) step = CheckTempSpace();
  if (step != Step::GoOn) return step;

  // The timer's ticks are handled only after this returns, so it may start before the extraction.
  mView.StartTimer(kExtractTimerId, kExtractTimerPeriodMs);
  mExtraction.StartExtraction(FindPatchEntry());
  return Step::GoOn;
}

// The engine library and the patch file go to the temporary folder, on the system drive as often as not:
// the run ends with the disk-space message when its drive cannot take them (0 free: it cannot be told).
CStartSequence::Step CStartSequence::CheckTempSpace() {
  uint32_t need = 0, free = 0;
  if (mExtraction.TempHasRoom(FindPatchEntry(), &need, &free)) return Step::GoOn;
  mEnd.EndRun(Ending::DiskFull(mTexts, need, free));
  return Step::Ended;
}

// A test patch names the folder it found on the command line and asks whether to use it; No leaves the
// folder to be chosen.
CStartSequence::Step CStartSequence::ConfirmTestPatch(std::wstring* candidate) {
  if (!mTestPatch) return Step::GoOn;
  if (candidate->empty()) {
    ShowMessage(IDS_TEST_PATCH_LOCATE, box::kIconExclamation);
    return Step::GoOn;
  }
  const int answer = mView.ShowBox(FormatText(Load(IDS_TEST_PATCH_CONFIRM), {*candidate}),
                                   Load(IDS_MESSAGE_CAPTION), box::kYesNoCancel | box::kIconExclamation);
  if (answer == box::kAnswerCancel) {
    mEnd.EndRun(Ending::Failed().WithOutcome(OutcomeNone).WithMessage(Load(IDS_CANCELLED)));
    return Step::Ended;
  }
  if (answer == box::kAnswerNo) candidate->clear();
  return Step::GoOn;
}

CStartSequence::Step CStartSequence::CloseClient() {
  if (mProbes.CloseRunningClient()) return Step::GoOn;
  // Retry: the page runs the whole sequence again, from the archive check.
  if (ShowMessage(IDS_CLIENT_RUNNING_RETRY, box::kRetryCancel | box::kIconHand) == box::kAnswerRetry)
    return Step::Again;
  mEnd.EndRun(Ending::Failed().WithOutcome(OutcomeRestart).WithMessage(Load(IDS_CLIENT_STILL_RUNNING)));
  return Step::Ended;
}

// The folder from the command line when it holds a client; else the default folder, confirmed by the
// user; else the folder dialog until it returns a client folder.
CStartSequence::Step CStartSequence::ChooseClientFolder(std::wstring candidate) {
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
      mEnd.EndRun(Ending::Failed().WithMessage(Load(IDS_CANCELLED)));
      return Step::Ended;
    }
  }
  if (!mProbes.IsClientFolder(candidate)) {
    mEnd.EndRun(Ending::Failed()
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
CStartSequence::Step CStartSequence::CompareBuilds() {
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
    mEnd.EndRun(Ending::Finished()
                    .WithBox(Box{same, Load(IDS_MESSAGE_CAPTION), box::kOk | box::kIconInformation})
                    .WithOutcome(OutcomeNone)
                    .WithMessage(same));
    return Step::Ended;
  }
  if (mInstalledBuild != fromBuild) {
    const std::wstring wrong = FormatText(Load(IDS_WRONG_VERSION), {mInstalledBuild, fromBuild});
    mEnd.EndRun(Ending::Failed()
                    .WithBox(Box{wrong, Load(IDS_ERROR_CAPTION), box::kOk | box::kIconHand})
                    .WithOutcome(OutcomeNewPatch)
                    .WithMessage(wrong)
                    .WithReportDetail(FormatText(L"Wrong Version. Need %u", {fromBuild})));
    return Step::Ended;
  }
  return Step::GoOn;
}

}  // namespace core
