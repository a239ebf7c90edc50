#pragma once
// The install flow without a window: the state of one run and everything that decides it. It meets the
// user through RunView and the machine through the ports; the main dialog owns it and forwards to it.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "core/Box.h"
#include "core/Outcome.h"
#include "core/Ports.h"
#include "core/RunView.h"
#include "rules/Version.h"

// Timer that polls for the end of extraction.
constexpr uint32_t kExtractTimerId = 100;
constexpr uint32_t kExtractTimerPeriodMs = 100;

// Process exit codes.
constexpr int kExitDone = 0;
constexpr int kExitCancelled = box::kAnswerCancel;  // 2: Cancel, End, Escape or the close box

// The engine run's cancel request. It exists only while the engine runs; Cancel sets it and the engine's
// next notification takes it. Only the dialog's thread touches it.
class CancelSignal {
 public:
  void Create() { mExists = true, mSet = false, mStopped = false; }
  void Clear() { mExists = false, mSet = false; }
  explicit operator bool() const { return mExists; }
  void Set() { mSet = mExists, mStopped = mStopped || mExists; }
  // The run was asked to stop (a cancel, or an engine error) since the signal was created.
  bool Stopped() const { return mStopped; }
  // True once after Set, like a wait on an auto-reset event.
  bool Take() {
    const bool set = mSet;
    mSet = false;
    return set;
  }

 private:
  bool mExists = false;
  bool mSet = false;
  bool mStopped = false;
};

// A message box as the flow shows it.
struct Box {
  std::wstring text;
  std::wstring caption;
  uint32_t style = box::kOk;
};

// How a run ends on a result page: the box first (when there is one), then the outcome, the message and
// the report detail (each kept from before when not given), then the page.
//   EndRun(Ending::Failed().WithBox(...).WithOutcome(OutcomeSupport).WithMessage(text));
struct Ending {
  static Ending Failed() { return Ending(); }
  static Ending Finished() {
    Ending ending;
    ending.page = PageFinished;
    return ending;
  }
  Ending& WithBox(Box shown) {
    box = std::move(shown);
    return *this;
  }
  Ending& WithOutcome(uint32_t value) {
    outcome = value;
    return *this;
  }
  Ending& WithMessage(std::wstring text) {
    message = std::move(text);
    return *this;
  }
  Ending& WithReportDetail(std::wstring text) {
    reportDetail = std::move(text);
    return *this;
  }

  std::optional<Box> box;
  std::optional<uint32_t> outcome;
  std::optional<std::wstring> message;
  std::optional<std::wstring> reportDetail;
  int page = PageFailed;
};

// The message-box style of ShowMessage and BoxOf for an error: the error icon and the error caption.
constexpr uint32_t kErrorMessage = 0;
// OnCancel's id when the flow itself closes the window (after a report or a launch), not a button.
constexpr int kCancelByFlow = 0;

class CRunCore : public EngineListener {
 public:
  CRunCore(RunView& view, const RunPorts& ports);
  ~CRunCore();
  CRunCore(const CRunCore&) = delete;
  CRunCore& operator=(const CRunCore&) = delete;

  // Commands of the dialog.
  void OnOK();
  // `id` is the button's, or kCancelByFlow.
  void OnCancel(int id);
  void OnTimer(uintptr_t timerId);
  void ReportError();
  void OnLaunchClient();

  // Pages and outcomes.
  void SetPage(int page);
  // The one way a run ends on a result page.
  void EndRun(const Ending& ending);
  // A string-table text in a message box: kErrorMessage is the error icon with caption 134, any other
  // style keeps its buttons and icon with caption 168.
  int ShowMessage(uint32_t stringId, uint32_t style = kErrorMessage);

  // The start sequence.
  bool CheckArchive();
  bool ParsePatchVersions();
  void StartUpdate();
  uint32_t ReadInstalledBuild(const wchar_t* fileName);

  // Extraction, on the extraction thread.
  void StartExtraction();
  // Asks the extraction thread (if one runs) to stop and waits for it.
  void StopExtraction();
  void ExtractAll();
  std::wstring ExtractEntry(const std::wstring& name, uint64_t base, uint64_t total);
  // The extraction thread's failure, brought to the dialog's thread.
  void OnExtractFailed();
  void DeleteTempFiles();

  // The patch run on the dialog's thread, and the engine's notifications during it.
  void RunPatch();
  const char* OnEngineMessage(uint32_t id, void* param) override;

  // The error-report address for the current outcome.
  std::wstring ReportAddress() const;

  // The installer's command line, handed in by the process entry before the first page.
  void SetCommandLine(std::wstring commandLine) { mCmdLine = std::move(commandLine); }

  // What the view paints.
  int32_t Page() const { return mPage; }
  const std::wstring& Message() const { return mMessage; }
  const std::wstring& Hint() const { return mHint; }
  bool IsTestPatch() const { return mTestPatch; }

  // The run's state. Only the flow writes it.
  std::atomic<bool> mExtractDone{false};  // set by the extraction thread, taken by the timer
  CancelSignal mCancelEvent;
  bool mAllFilesDone = false;
  uint32_t mFileNumber = 0;
  std::wstring mZavPath;
  std::wstring mDllPath;
  std::wstring mPatchPath;
  int32_t mPage = 0;
  std::wstring mMessage;
  uint32_t mOutcome = OutcomeNone;
  std::wstring mHint;
  std::wstring mReportDetail;
  bool mRestartNeeded = false;
  std::wstring mCurrentFile;
  bool mTestPatch = false;
  std::atomic<bool> mStopExtraction{false};

 private:
  enum class FolderLoop { Accepted, Cancelled, NotShown };

  std::wstring mCmdLine;
  uint32_t mFileCount = 0;
  std::wstring mTempDir;
  uint32_t mInstalledBuild = 0;
  std::wstring mNotesName;
  Version mFromVersion;
  Version mToVersion;
  bool mTempFolderTried = false;
  std::wstring mTempDirTried;  // the folder that could not be made, named in the details

  std::wstring Load(uint32_t id) { return mTexts.Load(id); }
  Box BoxOf(uint32_t stringId, uint32_t style);
  std::wstring FindPatchEntry();
  FolderLoop AskForFolder(std::wstring* folder);
  void ShowPatchNotes();
  bool EngineCommandLine(std::string* line);
  std::wstring EngineText(const void* param);

  RunView& mView;
  Texts& mTexts;
  ClientProbes& mProbes;
  ArchiveEntries& mArchive;
  TempFiles& mTemp;
  PatchEngine& mEngine;
  WorkerThread& mThread;
};
