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
uint32_t NumberInErrorText(const std::string& copy) {
  const size_t at = copy.find("ept");
  if (at == std::string::npos) return 1;
  const unsigned long number = std::strtoul(copy.c_str() + at + 3, nullptr, 10);
  return number ? static_cast<uint32_t>(number) : 1;
}

// Where progress stands after `done` of `total` bytes of a step that goes from `from` to `to`.
uint16_t Between(uint16_t from, uint16_t to, uint64_t done, uint64_t total) {
  if (total == 0 || done >= total) return to;
  return static_cast<uint16_t>(from + (to - from) * done / total);
}

class Run {
 public:
  Run(const Patch& patch, Source& patchFile, FileSystem& fs, Listener& listener)
      : mPatch(patch), mPatchFile(patchFile), mFs(fs), mListener(listener) {}

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
  // Writes the new file, moving the file's progress on as it grows; remembers a stop asked for.
  class ProgressWriter : public ByteSink {
   public:
    ProgressWriter(Run& run, Sink& sink, uint64_t total)
        : mRun(run), mWriter(sink, 0, total), mTotal(total) {}
    bool Put(ByteView bytes) override {
      if (!mWriter.Put(bytes)) return false;
      mSinceTick += bytes.size;
      if (mSinceTick < kProgressEvery) return true;
      mSinceTick = 0;
      mAborted = !mRun.Progress(Between(kProgressBuilt, kProgressWritten, mWriter.Count(), mTotal));
      return !mAborted;
    }
    SinkWriter& writer() { return mWriter; }
    bool aborted() const { return mAborted; }

   private:
    Run& mRun;
    SinkWriter mWriter;
    uint64_t mTotal;
    uint64_t mSinceTick = 0;
    bool mAborted = false;
  };

  // Opens the old file and checks, reading it in pieces, that it is the one the patch was made from.
  // Before anything is written (`first`) a failure sends id 7 with the file's name, then id 3.
  uint32_t CheckOld(const PatchEntry& entry, bool first, std::unique_ptr<Source>* old) {
    uint32_t error = kOk;
    const FsStatus status = mFs.OpenRead(entry.name, old);
    if (status != FsStatus::Ok)
      error = ErrorNumberOfFsStatus(status, kErrRead);
    else if ((*old)->Size() != entry.oldSize)
      error = kErrMismatch;
    else
      error = SumOld(entry, **old, first);
    if (error == kOk) return kOk;
    old->reset();
    if (error == kErrAborted) return error;
    if (first && !SendText(mListener, kIdFileStart, entry.name)) return kErrAborted;
    return SendError(mListener, error, entry.name);
  }

  uint32_t SumOld(const PatchEntry& entry, Source& old, bool first) {
    StreamReader reader(old, 0, entry.oldSize);
    if (!reader.Ok()) return kErrNoMemory;
    uint32_t crc = 0;
    uint64_t sinceTick = 0;
    while (reader.Remaining()) {
      ByteView piece;
      if (!reader.Take(kChunkSize, &piece)) return kErrRead;
      crc = Crc32(piece, crc);
      sinceTick += piece.size;
      if (sinceTick < kProgressEvery) continue;
      sinceTick = 0;
      // Before its file has started, a check keeps the caller alive with heartbeats only.
      if (!(first ? mListener.Notify(kIdHeartbeat, nullptr)
                  : Progress(Between(0, kProgressBuilt, reader.Position(), entry.oldSize))))
        return kErrAborted;
    }
    return crc == entry.oldCrc ? kOk : kErrMismatch;
  }

  uint32_t CheckOldFiles() {
    uint32_t checked = 0;
    for (const PatchEntry& entry : mPatch.entries) {
      if (!entry.IsFile() || entry.op == Op::Add) continue;
      // Small files send nothing while checked: a heartbeat every few keeps the caller's window alive.
      if (++checked % kFilesPerHeartbeat == 0 && !mListener.Notify(kIdHeartbeat, nullptr)) return kErrAborted;
      std::unique_ptr<Source> old;
      if (const uint32_t failed = CheckOld(entry, true, &old)) return failed;
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
        carryOn = SendText(mListener, entry.noticeId, entry.notice);
        break;
      case ParamKind::Number:
        carryOn = SendNumber(mListener, entry.noticeId,
                             ReadU32(reinterpret_cast<const uint8_t*>(entry.notice.data())));
        break;
      case ParamKind::None:
        carryOn = mListener.Notify(entry.noticeId, nullptr);
        break;
    }
    if (entry.noticeId == kIdError) return NumberInErrorText(entry.notice);
    return carryOn ? kOk : kErrAborted;
  }

  uint32_t DoFile(const PatchEntry& entry) {
    ++mFileNumber;
    mProgress = 0;
    if (!SendText(mListener, kIdFileStart, entry.name) || !Progress(0)) return kErrAborted;

    std::unique_ptr<Source> old;
    if (entry.op != Op::Add)
      if (const uint32_t failed = CheckOld(entry, false, &old)) return failed;
    if (entry.op == Op::Delete) {
      old.reset();
      if (!Step(entry, 0, kProgressBuilt) || !Step(entry, 1, kProgressWritten)) return kErrAborted;
      return FinishDelete(entry);
    }
    if (!Step(entry, 0, kProgressBuilt)) return kErrAborted;
    const std::string temp = entry.name + kTempSuffix;
    std::string detail = entry.name;
    const uint32_t built = WriteNew(entry, old.get(), temp, &detail);
    // The old file is closed before the new one takes its place.
    old.reset();
    if (built != kOk) {
      mFs.Remove(temp);
      return built == kErrAborted ? built : SendError(mListener, built, detail);
    }
    if (!Step(entry, 1, kProgressWritten)) {
      mFs.Remove(temp);
      return kErrAborted;
    }
    return FinishReplace(entry, temp);
  }

  // Builds the new file into `temp` and checks it; the file is closed on return.
  uint32_t WriteNew(const PatchEntry& entry, Source* old, const std::string& temp, std::string* detail) {
    std::unique_ptr<Sink> file;
    const FsStatus created = mFs.Create(temp, &file);
    if (created != FsStatus::Ok) return created == FsStatus::NoMemory ? kErrNoMemory : kErrWrite;
    ProgressWriter out(*this, *file, entry.newSize);
    if (!out.writer().Ok()) return kErrNoMemory;
    uint32_t result = entry.op == Op::Delta ? ApplyDelta(mPatchFile, entry.payloadOffset, entry.payloadSize,
                                                         *old, entry.newSize, out)
                                            : CopyPayload(entry, out);
    if (out.aborted()) return kErrAborted;
    if (result == kOk && (!out.writer().Flush() || !file->Close())) result = kErrWrite;
    if (result == kOk && (out.writer().Count() != entry.newSize || out.writer().Crc() != entry.newCrc)) {
      *detail += ": result does not match";
      result = kErrCorrupt;
    }
    return result;
  }

  uint32_t CopyPayload(const PatchEntry& entry, ByteSink& out) {
    StreamReader reader(mPatchFile, entry.payloadOffset, entry.payloadSize);
    if (!reader.Ok()) return kErrNoMemory;
    while (reader.Remaining()) {
      ByteView piece;
      if (!reader.Take(kChunkSize, &piece)) return kErrPatchUnreadable;
      if (!out.Put(piece)) return kErrWrite;
    }
    return kOk;
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
  Source& mPatchFile;
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

uint32_t ApplyPatch(Source& patchFile, FileSystem& fs, Listener& listener) {
  Patch patch;
  FormatError error;
  if (!ParsePatch(patchFile, &patch, &error)) return SendError(listener, error.number, error.detail);
  Run run(patch, patchFile, fs, listener);
  return run.Go();
}

uint32_t ApplyPatch(ByteView bytes, FileSystem& fs, Listener& listener) {
  MemorySource source(bytes);
  return ApplyPatch(source, fs, listener);
}

}  // namespace rtp
