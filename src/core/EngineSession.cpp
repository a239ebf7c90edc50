// The patch run on the dialog's thread: load the extracted engine, check its disk cost, apply the patch
// and follow the engine's notifications until it returns.
#include "core/EngineSession.h"

#include <cstring>
#include <string>

#include "core/EngineErrors.h"
#include "engine/EngineAbi.h"
#include "rules/EngineErrorNumber.h"
#include "rules/Format.h"
#include "rules/PathRules.h"
#include "rules/resource.h"

namespace core {

using namespace rules;

namespace {

constexpr uint32_t kMegabyteShift = 20;

bool CarriesText(uint32_t id) {
  return id == rtp::kIdWarning || id == rtp::kIdWarning2 || id == rtp::kIdError || id == rtp::kIdWarning4 ||
         id == rtp::kIdFileStart || id == rtp::kIdDetail;
}

// The loaded library, freed when the run is over whichever way it ends.
class LoadedEngine {
 public:
  explicit LoadedEngine(PatchEngine& engine) : mEngine(engine) {}
  ~LoadedEngine() {
    if (mLoaded) mEngine.Free();
  }
  LoadedEngine(const LoadedEngine&) = delete;
  LoadedEngine& operator=(const LoadedEngine&) = delete;
  bool Load(const std::wstring& path) { return mLoaded = mEngine.Load(path); }

 private:
  PatchEngine& mEngine;
  bool mLoaded = false;
};

}  // namespace

CEngineSession::CEngineSession(RunView& view, Texts& texts, ClientProbes& probes, SystemActions& system,
                               PatchEngine& engine, RunEnd& end)
    : mView(view), mTexts(texts), mProbes(probes), mSystem(system), mEngine(engine), mEnd(end) {}

std::wstring CEngineSession::EngineText(const void* param) {
  const char* text = param ? static_cast<const char*>(param) : "";
  return mTexts.Widen(text, std::strlen(text));
}

bool CEngineSession::Cancel() {
  if (!mCancelEvent) return false;
  mCancelEvent.Set();
  return true;
}

void CEngineSession::Run(const PatchJob& job) {
  LoadedEngine loaded(mEngine);
  if (!loaded.Load(job.dllPath)) {
    mEnd.EndRun(Ending::FailedWithError(mTexts, IDS_ENGINE_LOAD_FAILED, OutcomeSupport));
    return;
  }
  if (!DiskHasRoom(job)) return;
  if (!mEngine.HasApply()) {
    const std::wstring text = FormatText(L"Very weird error! Error binding to dll, %d",
                                         {static_cast<int32_t>(mEngine.BindError())});
    mEnd.EndRun(Ending::OnSamePage().WithBox(Box{text, L"", box::kIconHand}));
    return;
  }
  std::string commandLine;
  if (!EngineCommandLine(job, &commandLine)) return;
  Apply(job, commandLine);
}

bool CEngineSession::DiskHasRoom(const PatchJob& job) {
  uint32_t biggestSz = 0;
  if (!mEngine.GetCost(job.patchPath, &biggestSz)) return true;
  const uint32_t free = mProbes.GetFreeDiskSpaceMB(job.clientFolder);
  const uint32_t need = biggestSz >> kMegabyteShift;
  // A free space of 0 means the query failed: the check is skipped then.
  if (need <= free || need == 0 || free == 0) return true;
  EndForDiskSpace(need, free);
  return false;
}

void CEngineSession::EndForDiskSpace(uint32_t needMB, uint32_t freeMB) {
  mEnd.EndRun(Ending::DiskFull(mTexts, needMB, freeMB));
}

void CEngineSession::Apply(const PatchJob& job, const std::string& commandLine) {
  char buffer[rtp::kCommandLineSize] = {};
  commandLine.copy(buffer, commandLine.size());

  mView.SetPhaseStatus(Load(IDS_INSTALLING_PHASE));
  mCancelEvent.Create();
  mAllFilesDone = false;
  mRestartNeeded = false;
  mView.HoldOutput(true);
  mEngine.Apply(buffer, *this);
  mView.HoldOutput(false);
  mCancelEvent.Clear();

  // A cancel or an engine error has already chosen the failed page.
  if (mCancelEvent.Stopped()) return;
  // Success is judged by the files the engine reached, not by what it returns.
  if (mAllFilesDone) {
    mProbes.TouchFile(JoinPath(job.clientFolder, L"script\\compiled.code"));
    mEnd.EndRun(Ending::Finished());
    return;
  }
  // The engine returned on its own before its last file: the client is only partly patched.
  mEnd.EndRun(
      Ending::Failed()
          .WithOutcome(OutcomeSupport)
          .WithMessage(Load(IDS_ENGINE_STOPPED_EARLY))
          .WithReportDetail(FormatText(L"Engine stopped early (%u of %u files)", {mFileNumber, mFileCount})));
}

// The engine takes the client folder and the patch path as one 8-bit line in the ANSI code page, the
// second path with an opening quote only. A path with a character the code page cannot write goes by its
// short form; a path that still cannot be written, or a line too long for the engine's buffer, is refused
// with the failed page rather than handing the engine some other folder.
bool CEngineSession::EngineCommandLine(const PatchJob& job, std::string* line) {
  std::string paths[2];
  const std::wstring* wide[2] = {&job.clientFolder, &job.patchPath};
  const wchar_t* refusal = nullptr;
  const std::wstring* refused = nullptr;
  for (int i = 0; i < 2 && refusal == nullptr; ++i) {
    if (mTexts.Narrow(*wide[i], &paths[i])) continue;
    const std::wstring shortPath = mProbes.ShortPath(*wide[i]);
    if (!shortPath.empty() && mTexts.Narrow(shortPath, &paths[i])) continue;
    refusal = L"Path not usable by the engine";
    refused = wide[i];
  }
  if (refusal == nullptr) {
    *line = "\"" + paths[0] + "\" \"" + paths[1];
    if (line->size() < rtp::kCommandLineSize) return true;
    refusal = L"Command line too long";
    refused = job.patchPath.size() > job.clientFolder.size() ? &job.patchPath : &job.clientFolder;
  }
  const std::wstring text = FormatText(Load(IDS_PATH_NOT_USABLE), {*refused});
  mEnd.EndRun(Ending::Failed()
                  .WithBox(Box{text, Load(IDS_ERROR_CAPTION), box::kIconHand})
                  .WithOutcome(OutcomeSupport)
                  .WithMessage(text)
                  .WithReportDetail(refusal));
  return false;
}

const char* CEngineSession::OnEngineMessage(uint32_t id, void* param) {
  static const char kContinue[] = "";

  // The engine holds the dialog's thread: its queue is served here, so painting, Cancel and Details work.
  mView.PumpMessages();
  if (mCancelEvent.Take()) return nullptr;

  if (param != nullptr && CarriesText(id)) {
    mSystem.Trace(FormatText(L"id = %u (%#x), msg = %s\n", {id, id, EngineText(param)}));
  }

  switch (id) {
    case rtp::kIdWarning:
    case rtp::kIdWarning2:
    case rtp::kIdWarning4: {
      const std::wstring warning = FormatText(L"Warning: %s", {EngineText(param)});
      mView.AddDetail(warning);
      mView.ShowBox(warning, warning, box::kIconHand);
      break;
    }
    case rtp::kIdError: {
      // The engine's own disk check, for a need its cost cannot carry (4 GiB and more) or a drive that
      // filled up since: the player reads the same message as from the check before the run.
      uint32_t needMB = 0, freeMB = 0;
      if (EngineErrorNumber(static_cast<const char*>(param)) == rtp::kErrDiskSpace &&
          DiskSpaceOfEngineText(static_cast<const char*>(param), &needMB, &freeMB)) {
        mCancelEvent.Set();
        EndForDiskSpace(needMB, freeMB);
        return kContinue;
      }
      uint32_t outcome = OutcomeNone;
      const std::wstring userText = EngineErrorText(static_cast<const char*>(param), &outcome, mTexts);
      const std::wstring message = FormatText(Load(IDS_PATCH_FILE_ERROR), {mCurrentFile, userText});
      // Stops the run at the engine's next call; the message stays the error's.
      mCancelEvent.Set();
      mEnd.EndRun(Ending::Failed()
                      .WithBox(Box{message, Load(IDS_ERROR_CAPTION), box::kIconHand})
                      .WithOutcome(outcome)
                      .WithMessage(message)
                      .WithReportDetail(EngineText(param)));
      return kContinue;
    }
    case rtp::kIdProgress:
      if (param != nullptr) {
        const uint32_t value = *static_cast<const uint32_t*>(param);
        mView.SetFileProgress(static_cast<int>(((value & 0xFFFF) * 100) / rtp::kProgressDone));
      }
      break;
    case rtp::kIdFileCount:
      if (param != nullptr) mFileCount = *static_cast<const uint32_t*>(param);
      break;
    case rtp::kIdFileStart: {
      mFileNumber += 1;
      // The quotient first, then the percentage: 29 of 100 files shows 28.
      const double share = mFileCount == 0 ? 0.0 : static_cast<double>(mFileNumber) / mFileCount;
      mView.SetTotalProgress(static_cast<int>(share * 100));
      mCurrentFile = EngineText(param);
      mView.SetFileStatus(FormatText(Load(IDS_PROCESSING_FILE), {mFileNumber, mFileCount, mCurrentFile}));
      mView.SetFileProgress(static_cast<int>((mFileNumber % 5) * 25));
      mAllFilesDone = mFileNumber >= mFileCount;
      break;
    }
    case rtp::kIdDetail:
      mView.AddDetail(EngineText(param));
      break;
    case rtp::kIdLockedReplace:
    case rtp::kIdLockedDelete:
      mRestartNeeded = true;
      break;
    default:
      break;
  }
  return kContinue;
}

}  // namespace core
