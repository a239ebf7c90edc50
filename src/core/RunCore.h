#pragma once
// The install flow without a window: the state of one run and everything that decides it. It meets the
// user through RunView and the machine through the ports. Its parts: the start sequence (CStartSequence),
// the extraction (CExtraction) and the engine session (CEngineSession); it holds the page and the outcome.
#include <cstdint>
#include <string>

#include "core/Box.h"
#include "core/Ending.h"
#include "core/EngineSession.h"
#include "core/Extraction.h"
#include "core/Outcome.h"
#include "core/Ports.h"
#include "core/RunView.h"
#include "core/StartSequence.h"

namespace core {

// Process exit codes.
constexpr int kExitDone = 0;
constexpr int kExitCancelled = box::kAnswerCancel;  // 2: Cancel, End, Escape or the close box

// OnCancel's id when the flow itself closes the window (after a report or a launch), not a button.
constexpr int kCancelByFlow = 0;

class CRunCore : private RunEnd {
 public:
  CRunCore(RunView& view, const RunPorts& ports);
  CRunCore(const CRunCore&) = delete;
  CRunCore& operator=(const CRunCore&) = delete;

  // Commands of the dialog.
  void OnOK();
  // `id` is the button's, or kCancelByFlow.
  void OnCancel(int id);
  void OnTimer(uintptr_t timerId);
  void ReportError();
  void OnLaunchClient();
  // The extraction thread's failure, brought to the dialog's thread.
  void OnExtractFailed();
  // The installer's command line, handed in by the process entry before the first page.
  void SetCommandLine(std::wstring commandLine) { mStart.SetCommandLine(std::move(commandLine)); }

  // Pages and outcomes.
  void SetPage(int page);
  // The one way a run ends on a result page (or refuses on the page it is on).
  void EndRun(const Ending& ending) override;
  // A string-table text in a message box (see BoxOf).
  int ShowMessage(uint32_t stringId, uint32_t style = kErrorMessage);
  // Asks the extraction thread (if one runs) to stop and waits for it.
  void StopExtraction() { mExtraction.StopExtraction(); }
  // Removes the extracted files and their folder.
  void DeleteTempFiles() { mExtraction.DeleteTempFiles(); }

  // What the view paints and the tests observe.
  int32_t Page() const { return mPage; }
  const std::wstring& Message() const { return mMessage; }
  const std::wstring& Hint() const { return mHint; }
  bool IsTestPatch() const { return mStart.IsTestPatch(); }
  uint32_t OutcomeCode() const { return mOutcome; }
  const std::wstring& ReportDetail() const { return mReportDetail; }
  const std::wstring& ClientFolder() const { return mStart.ClientFolder(); }

 private:
  std::wstring Load(uint32_t id) { return mTexts.Load(id); }
  // The start sequence's steps the pages run.
  bool CheckArchive() { return mStart.CheckArchive(); }
  bool ParsePatchVersions() { return mStart.ParsePatchVersions(); }
  void StartUpdate();
  // The patch run on the dialog's thread, once the extraction is done.
  void RunPatch();
  // The error-report address for the current outcome.
  std::wstring ReportAddress() const;

  RunView& mView;
  Texts& mTexts;
  SystemActions& mSystem;

  int32_t mPage = 0;
  std::wstring mMessage;
  uint32_t mOutcome = OutcomeNone;
  std::wstring mHint;
  std::wstring mReportDetail;

  // The session and the extraction stop and free what they own before the state above goes; the start
  // sequence comes after the extraction it starts.
  CEngineSession mSession;
  CExtraction mExtraction;
  CStartSequence mStart;
};

}  // namespace core
