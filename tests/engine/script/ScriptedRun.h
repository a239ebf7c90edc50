#pragma once
// The scripted test engine's run: the engine's real run of the patch inside a scripted file, with the
// script played between the run and its caller. The run's own callbacks pass through as they come;
// the script adds notices where it places them, stretches files by their delays, and replaces the
// file count or the cost when it says so.
#include <cstdint>
#include <functional>
#include <string>

#include "EngineScript.h"
#include "engine/apply/Apply.h"
#include "engine/format/PatchFormat.h"

namespace enginetest {

// Stands between the engine's run and the caller's listener, playing the script.
class ScriptedListener : public rtp::Listener {
 public:
  ScriptedListener(const EngineScript& script, rtp::Listener& caller);
  bool Notify(uint32_t id, void* param) override;
  // After the run: sends what is still held, plays the notices of the end when the run had no file to
  // end with, and gives the run's result (an error notice's number when one stopped it).
  uint32_t Finish(uint32_t result);

 private:
  bool Forward(uint32_t id, void* param);
  bool SendText(uint32_t id, const std::string& text);
  bool SendNumber(uint32_t id, uint32_t number);
  bool Play(const ScriptNotice& notice);
  // Plays, in the script's order, the notices not played yet that `due` picks.
  bool PlayWhere(const std::function<bool(const ScriptNotice&)>& due);
  // A file's staging begins (its id 7 is followed by its first progress): the notices before it.
  bool BeginFile(const std::string& name);
  // Waits `ms` in slices of at most 50 ms, after each a progress callback moving towards `to`, or a
  // heartbeat when `to` is 0.
  bool Wait(uint32_t ms, uint16_t to);
  bool Progress(uint32_t number);

  const EngineScript& mScript;
  rtp::Listener& mCaller;
  std::vector<bool> mPlayed;
  bool mHolding = false;  // an id 7 waits for the callback after it
  std::string mHeldName;
  uint32_t mFiles = 0;       // the run's real count
  uint32_t mFileNumber = 0;  // of the file being staged
  std::string mLastFile;     // folded
  uint16_t mProgress = 0;
  bool mAllStaged = false;
  uint32_t mLines = 0;  // the commit's lines so far
  bool mEnded = false;
  uint32_t mError = 0;  // set by an error notice: the run stops
};

// Runs the patch in `file` against `client`: a scripted file with its script, any other as it is.
uint32_t RunScripted(rtp::Source& file, rtp::FileSystem& client, rtp::Listener& listener);

// The cost of the patch in `file`, or the script's. 0, or the error number.
uint32_t ScriptedCost(rtp::Source& file, rtp::PatchCost* cost);

}  // namespace enginetest
