#include "ScriptedRun.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "engine/apply/Callbacks.h"

namespace enginetest {

namespace {

constexpr uint16_t kBuilt = 0x2000;
constexpr uint16_t kWritten = 0x6000;
constexpr uint16_t kDone = 0x8000;

// The number right after the first "ept" of an error text, or 1 when there is none.
uint32_t NumberInErrorText(const std::string& text) {
  const size_t at = text.find("ept");
  if (at == std::string::npos) return 1;
  const unsigned long number = std::strtoul(text.c_str() + at + 3, nullptr, 10);
  return number ? static_cast<uint32_t>(number) : 1;
}

}  // namespace

ScriptedListener::ScriptedListener(const EngineScript& script, rtp::Listener& caller)
    : mScript(script), mCaller(caller), mPlayed(script.notices.size(), false) {}

bool ScriptedListener::Forward(uint32_t id, void* param) {
  return mCaller.Notify(id, param);
}

bool ScriptedListener::SendText(uint32_t id, const std::string& text) {
  std::string copy = text;  // the receiver gets a writable, zero-terminated copy
  return Forward(id, &copy[0]);
}

bool ScriptedListener::SendNumber(uint32_t id, uint32_t number) {
  return Forward(id, &number);
}

bool ScriptedListener::Progress(uint32_t number) {
  return SendNumber(rtp::kIdProgress, number);
}

bool ScriptedListener::Wait(uint32_t ms, uint16_t to) {
  const uint32_t slices = (ms + rtp::kHeartbeatMs - 1) / rtp::kHeartbeatMs;
  const uint16_t from = mProgress;
  for (uint32_t i = 1; i <= slices; ++i) {
    std::this_thread::sleep_for(
        std::chrono::milliseconds(i < slices ? rtp::kHeartbeatMs : ms - (slices - 1) * rtp::kHeartbeatMs));
    const bool goOn = to ? Progress(mFileNumber << 16 | (from + (to - from) * i / (slices + 1)))
                         : Forward(rtp::kIdHeartbeat, nullptr);
    if (!goOn) return false;
  }
  return true;
}

bool ScriptedListener::Play(const ScriptNotice& notice) {
  if (!Wait(notice.delayMs, 0)) return false;
  bool goOn = true;
  switch (rtp::ParamKindOf(notice.id)) {
    case rtp::ParamKind::Text:
      goOn = SendText(notice.id, notice.text);
      break;
    case rtp::ParamKind::Number:
      goOn = SendNumber(notice.id, notice.number);
      break;
    case rtp::ParamKind::None:
      goOn = Forward(notice.id, nullptr);
      break;
  }
  // An error stops the run, whatever the caller answered.
  if (notice.id == rtp::kIdError) mError = NumberInErrorText(notice.text);
  return goOn && !mError;
}

bool ScriptedListener::PlayWhere(const std::function<bool(const ScriptNotice&)>& due) {
  for (size_t i = 0; i < mScript.notices.size(); ++i) {
    if (mPlayed[i] || !due(mScript.notices[i])) continue;
    mPlayed[i] = true;
    if (!Play(mScript.notices[i])) return false;
  }
  return true;
}

bool ScriptedListener::BeginFile(const std::string& name) {
  const std::string file = rtp::FoldName(name);
  const bool first = ++mFileNumber == 1;
  const bool played = PlayWhere([&](const ScriptNotice& n) {
    return (n.place == Place::Start && first) || (n.place == Place::After && n.file == mLastFile) ||
           (n.place == Place::Before && n.file == file);
  });
  mLastFile = file;
  mProgress = 0;
  return played;
}

bool ScriptedListener::Notify(uint32_t id, void* param) {
  if (mError) return false;
  const uint32_t number =
      param && rtp::ParamKindOf(id) == rtp::ParamKind::Number ? *static_cast<uint32_t*>(param) : 0;
  if (mHolding) {
    mHolding = false;
    // A file's id 7 before its first progress begins its staging; before an error it names a bad old file.
    if (id == rtp::kIdProgress && number == (mFileNumber + 1) << 16 && !BeginFile(mHeldName)) return false;
    if (!SendText(rtp::kIdFileStart, mHeldName)) return false;
  }
  switch (id) {
    case rtp::kIdFileStart:
      mHolding = true;
      mHeldName = param ? static_cast<const char*>(param) : "";
      return true;
    case rtp::kIdFileCount:
      mFiles = number;
      return mScript.overridesCount ? SendNumber(id, mScript.announced) : Forward(id, param);
    case rtp::kIdProgress: {
      const uint16_t value = number & 0xFFFF;
      if (number >> 16 == mFileNumber && mScript.fileDelayMs &&
          (value == kBuilt || value == kWritten || value == kDone)) {
        const uint32_t share = mScript.fileDelayMs / 3 + (value == kBuilt ? mScript.fileDelayMs % 3 : 0);
        if (!Wait(share, value)) return false;
      }
      mProgress = value;
      if (!Forward(id, param)) return false;
      mAllStaged = mAllStaged || (value == kDone && mFileNumber == mFiles);
      return true;
    }
    case rtp::kIdDetail:
      if (!Forward(id, param)) return false;
      if (!mAllStaged || ++mLines != mFiles) return true;
      // The last file's line: the end's notices come before the run is finished.
      mEnded = true;
      return PlayWhere([&](const ScriptNotice& n) {
        return n.place == Place::End || (n.place == Place::After && n.file == mLastFile);
      });
    default:
      return Forward(id, param);
  }
}

uint32_t ScriptedListener::Finish(uint32_t result) {
  if (mHolding) {
    mHolding = false;
    SendText(rtp::kIdFileStart, mHeldName);
  }
  // A patch without files ends without a line: its notices come after the run.
  if (!mError && result == rtp::kOk && !mEnded &&
      !PlayWhere([](const ScriptNotice& n) { return n.place == Place::Start || n.place == Place::End; }))
    result = rtp::kErrAborted;
  return mError ? mError : result;
}

uint32_t RunScripted(rtp::Source& file, rtp::FileSystem& client, rtp::Listener& listener) {
  std::string lines;
  uint64_t patchAt = 0;
  if (!SplitScriptedPatch(file, &lines, &patchAt)) return rtp::ApplyPatch(file, client, listener);
  ScriptReader reader;
  std::string why;
  if (!reader.AddLines(lines, &why)) return rtp::SendError(listener, rtp::kErrCorrupt, why);
  rtp::SliceSource patch(file, patchAt, file.Size() - patchAt);
  ScriptedListener scripted(reader.script(), listener);
  return scripted.Finish(rtp::ApplyPatch(patch, client, scripted));
}

uint32_t ScriptedCost(rtp::Source& file, rtp::PatchCost* cost) {
  std::string lines;
  uint64_t patchAt = 0;
  rtp::FormatError error;
  if (!SplitScriptedPatch(file, &lines, &patchAt))
    return rtp::ReadPatchCost(file, cost, &error) ? rtp::kOk : error.number;
  ScriptReader reader;
  std::string why;
  if (!reader.AddLines(lines, &why)) return rtp::kErrCorrupt;
  rtp::SliceSource patch(file, patchAt, file.Size() - patchAt);
  if (!rtp::ReadPatchCost(patch, cost, &error)) return error.number;
  if (reader.script().overridesCost) cost->biggest = reader.script().biggest;
  return rtp::kOk;
}

}  // namespace enginetest
