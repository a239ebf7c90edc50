#pragma once
// One patch run through the engine library, on the dialog's thread: it loads the extracted library,
// checks its disk cost, hands it the command line, decodes its notifications until it returns and frees
// it on every path. How the run ends goes to the run's core.
#include <cstdint>
#include <string>

#include "core/Ending.h"
#include "core/Ports.h"
#include "core/RunView.h"

namespace core {

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

// What a run hands the engine.
struct PatchJob {
  const std::wstring& clientFolder;
  const std::wstring& dllPath;
  const std::wstring& patchPath;
};

class CEngineSession : public EngineListener {
 public:
  CEngineSession(RunView& view, Texts& texts, ClientProbes& probes, SystemActions& system,
                 PatchEngine& engine, RunEnd& end);
  CEngineSession(const CEngineSession&) = delete;
  CEngineSession& operator=(const CEngineSession&) = delete;

  // Returns when the engine has finished, failed or been stopped; the ending has gone to RunEnd.
  void Run(const PatchJob& job);
  // While the engine runs: asks it to stop at its next notification and returns true.
  bool Cancel();
  // The engine reported a locked file that is replaced or deleted at the next start of the system.
  bool RestartNeeded() const { return mRestartNeeded; }

  const char* OnEngineMessage(uint32_t id, void* param) override;

 private:
  bool DiskHasRoom(const PatchJob& job);
  // Ends the run on the failed page with the disk-space message.
  void EndForDiskSpace(uint32_t needMB, uint32_t freeMB);
  bool EngineCommandLine(const PatchJob& job, std::string* line);
  void Apply(const PatchJob& job, const std::string& commandLine);
  std::wstring EngineText(const void* param);
  std::wstring Load(uint32_t id) { return mTexts.Load(id); }

  RunView& mView;
  Texts& mTexts;
  ClientProbes& mProbes;
  SystemActions& mSystem;
  PatchEngine& mEngine;
  RunEnd& mEnd;

  CancelSignal mCancelEvent;
  bool mAllFilesDone = false;
  bool mRestartNeeded = false;
  uint32_t mFileCount = 0;
  uint32_t mFileNumber = 0;
  std::wstring mCurrentFile;
};

}  // namespace core
