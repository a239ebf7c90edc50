#include "patchengine/Apply.h"

#include <cstdlib>
#include <cstring>

#include "patchengine/Delta.h"
#include "patchengine/Errors.h"
#include "patchengine/PatchFormat.h"

namespace rtp {

namespace {

constexpr uint16_t kProgressBuilt = 0x2000;
constexpr uint16_t kProgressWritten = 0x6000;
constexpr uint16_t kProgressDone = 0x8000;

bool SendText(Listener& listener, uint32_t id, const std::string& text) {
  std::string copy = text;  // the receiver gets a writable, zero-terminated copy
  return listener.Notify(id, &copy[0]);
}

bool SendNumber(Listener& listener, uint32_t id, uint32_t number) {
  uint32_t value = number;
  return listener.Notify(id, &value);
}

uint32_t ErrorNumberOfFsStatus(FsStatus status, uint32_t otherwise) {
  switch (status) {
    case FsStatus::NotFound:
      return kErrFileNotFound;
    case FsStatus::Locked:
      return kErrRead;
    case FsStatus::NoMemory:
      return kErrNoMemory;
    default:
      return otherwise;
  }
}

// The number right after the first "ept" of an error text, or 1 when there is none.
uint32_t NumberInErrorText(ByteView text) {
  const std::string copy(reinterpret_cast<const char*>(text.data), text.size);
  const size_t at = copy.find("ept");
  if (at == std::string::npos) return 1;
  const unsigned long number = std::strtoul(copy.c_str() + at + 3, nullptr, 10);
  return number ? static_cast<uint32_t>(number) : 1;
}

class Run {
 public:
  Run(const Patch& patch, FileSystem& fs, Listener& listener) : mPatch(patch), mFs(fs), mListener(listener) {}

  uint32_t Go() {
    if (!mFs.RootExists()) return SendError(mListener, kErrFileNotFound, "client folder");
    if (!(mPatch.header.flags & kFlagNoAnnounce)) {
      const uint32_t count =
          (mPatch.header.flags & kFlagAnnounce) ? mPatch.header.announced : mPatch.FileCount();
      if (!SendNumber(mListener, kIdFileCount, count)) return kErrAborted;
    }
    if (const uint32_t failed = CheckOldFiles()) return failed;
    for (const PatchEntry& entry : mPatch.entries) {
      const uint32_t result = entry.IsFile() ? DoFile(entry) : DoNotice(entry);
      if (result) return result;
    }
    return kOk;
  }

 private:
  // Reads the old file and checks it is the one the patch was made from; on failure sends id 7 with
  // its name when `announce` is set, then id 3.
  uint32_t ReadOld(const PatchEntry& entry, Buffer* old, bool announce) {
    const FsStatus status = mFs.Read(entry.name, old);
    uint32_t error = kOk;
    if (status != FsStatus::Ok)
      error = ErrorNumberOfFsStatus(status, kErrRead);
    else if (old->size() != entry.oldSize || Crc32(old->view()) != entry.oldCrc)
      error = kErrMismatch;
    if (error == kOk) return kOk;
    if (announce && !SendText(mListener, kIdFileStart, entry.name)) return kErrAborted;
    return SendError(mListener, error, entry.name);
  }

  uint32_t CheckOldFiles() {
    for (const PatchEntry& entry : mPatch.entries) {
      if (!entry.IsFile() || entry.op == Op::Add) continue;
      Buffer old;
      if (const uint32_t failed = ReadOld(entry, &old, true)) return failed;
    }
    return kOk;
  }

  // Sleeps for `ms` in heartbeat slices, sending `id` (with progress moving towards `to` for id 5).
  bool Wait(uint32_t ms, uint32_t id, uint16_t to) {
    const uint32_t slices = (ms + kHeartbeatMs - 1) / kHeartbeatMs;
    const uint16_t from = mProgress;
    for (uint32_t i = 1; i <= slices; ++i) {
      mFs.Sleep(i < slices ? kHeartbeatMs : ms - (slices - 1) * kHeartbeatMs);
      if (id == kIdProgress) {
        if (!Progress(static_cast<uint16_t>(from + (to - from) * i / (slices + 1)))) return false;
      } else if (!mListener.Notify(id, nullptr)) {
        return false;
      }
    }
    return true;
  }

  bool Progress(uint16_t value) {
    mProgress = value;
    return SendNumber(mListener, kIdProgress, (mFileNumber << 16) | value);
  }

  // One of a file's three steps: its share of the delay, then the progress it reached.
  bool Step(const PatchEntry& entry, int step, uint16_t to) {
    const uint32_t share = entry.delayMs / 3 + (step == 0 ? entry.delayMs % 3 : 0);
    return Wait(share, kIdProgress, to) && Progress(to);
  }

  uint32_t DoNotice(const PatchEntry& entry) {
    if (!Wait(entry.delayMs, kIdHeartbeat, 0)) return kErrAborted;
    bool carryOn = true;
    switch (ParamKindOf(entry.noticeId)) {
      case ParamKind::Text:
        carryOn =
            SendText(mListener, entry.noticeId,
                     std::string(reinterpret_cast<const char*>(entry.payload.data), entry.payload.size));
        break;
      case ParamKind::Number:
        carryOn = SendNumber(mListener, entry.noticeId, ReadU32(entry.payload.data));
        break;
      case ParamKind::None:
        carryOn = mListener.Notify(entry.noticeId, nullptr);
        break;
    }
    if (entry.noticeId == kIdError) return NumberInErrorText(entry.payload);
    return carryOn ? kOk : kErrAborted;
  }

  uint32_t DoFile(const PatchEntry& entry) {
    ++mFileNumber;
    mProgress = 0;
    if (!SendText(mListener, kIdFileStart, entry.name) || !Progress(0)) return kErrAborted;

    Buffer old;
    if (entry.op != Op::Add)
      if (const uint32_t failed = ReadOld(entry, &old, false)) return failed;
    ByteView result = entry.payload;
    Buffer built;
    if (entry.op == Op::Delta) {
      if (!built.Resize(entry.newSize)) return SendError(mListener, kErrNoMemory, entry.name);
      if (!ApplyDelta(old.view(), entry.payload, built.data(), entry.newSize))
        return SendError(mListener, kErrCorrupt, entry.name);
      result = built.view();
    }
    if (entry.op != Op::Delete && (result.size != entry.newSize || Crc32(result) != entry.newCrc))
      return SendError(mListener, kErrCorrupt, entry.name + ": result does not match");
    old = Buffer();
    if (!Step(entry, 0, kProgressBuilt)) return kErrAborted;

    if (entry.op == Op::Delete) {
      if (!Step(entry, 1, kProgressWritten)) return kErrAborted;
      return FinishDelete(entry);
    }
    const std::string temp = entry.name + kTempSuffix;
    const FsStatus written = mFs.Write(temp, result);
    built = Buffer();
    if (written != FsStatus::Ok) {
      mFs.Remove(temp);
      return SendError(mListener, written == FsStatus::NoMemory ? kErrNoMemory : kErrWrite, entry.name);
    }
    if (!Step(entry, 1, kProgressWritten)) {
      mFs.Remove(temp);
      return kErrAborted;
    }
    return FinishReplace(entry, temp);
  }

  uint32_t FinishReplace(const PatchEntry& entry, const std::string& temp) {
    const char* done = entry.op == Op::Add ? "Added " : entry.op == Op::Replace ? "Replaced " : "Patched ";
    std::string line = done + entry.name;
    FsStatus status = mFs.Replace(temp, entry.name);
    if (status == FsStatus::Locked) {
      status = mFs.ScheduleReplace(temp, entry.name);
      if (status == FsStatus::Ok) {
        if (!mListener.Notify(kIdLockedReplace, nullptr)) return kErrAborted;
        line = entry.name + " is in use: it will be replaced when the computer restarts";
      }
    }
    if (status != FsStatus::Ok) {
      mFs.Remove(temp);
      return SendError(mListener, kErrReplace, entry.name);
    }
    if (!Step(entry, 2, kProgressDone) || !SendText(mListener, kIdDetail, line)) return kErrAborted;
    return kOk;
  }

  uint32_t FinishDelete(const PatchEntry& entry) {
    std::string line = "Deleted " + entry.name;
    FsStatus status = mFs.Remove(entry.name);
    if (status == FsStatus::Ok || status == FsStatus::NotFound) {
      mFs.RemoveEmptyFolders(entry.name);
      status = FsStatus::Ok;
    } else if (status == FsStatus::Locked) {
      status = mFs.ScheduleRemove(entry.name);
      if (status == FsStatus::Ok) {
        if (!mListener.Notify(kIdLockedDelete, nullptr)) return kErrAborted;
        line = entry.name + " is in use: it will be deleted when the computer restarts";
      }
    }
    if (status != FsStatus::Ok) return SendError(mListener, kErrReplace, entry.name);
    if (!Step(entry, 2, kProgressDone) || !SendText(mListener, kIdDetail, line)) return kErrAborted;
    return kOk;
  }

  const Patch& mPatch;
  FileSystem& mFs;
  Listener& mListener;
  uint32_t mFileNumber = 0;
  uint16_t mProgress = 0;
};

}  // namespace

uint32_t SendError(Listener& listener, uint32_t number, const std::string& detail) {
  SendText(listener, kIdError, ErrorText(number, detail));
  return number;
}

uint32_t ApplyPatch(ByteView bytes, FileSystem& fs, Listener& listener) {
  Patch patch;
  FormatError error;
  if (!ParsePatch(bytes, &patch, &error)) return SendError(listener, error.number, error.detail);
  Run run(patch, fs, listener);
  return run.Go();
}

}  // namespace rtp
