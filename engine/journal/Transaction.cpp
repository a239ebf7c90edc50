#include "engine/journal/Transaction.h"

#include <algorithm>
#include <chrono>

namespace rtp {

namespace {

// A journal is a few bytes a file: one far larger is not ours.
constexpr uint64_t kMaxJournalSize = 64ull << 20;
// A virus scanner opens a file the moment it is written and refuses it to others for a moment: a file
// refused counts as in use only after this long.
constexpr uint32_t kPatienceMs = 3000;
constexpr uint32_t kRetryMs = 100;

// Files still being synced hold their handles: a rollback or a recovery waits for them first, silently
// (the run calls back no more after a stop).
void WaitQuietly(FileSystem& fs) {
  std::string ignored;
  fs.WaitSynced([] { return false; }, &ignored);
}

// Renames the journal from one state to the next and puts that on the disk.
FsStatus EnterState(FileSystem& fs, JournalState from, JournalState to) {
  const FsStatus renamed = fs.Replace(JournalName(from), JournalName(to));
  return renamed == FsStatus::Ok ? fs.SyncFolder(JournalName(to)) : renamed;
}

bool Fail(StepFailure* failure, const std::string& name, FsStatus status) {
  failure->name = name;
  failure->status = status;
  return false;
}

enum class Read { Absent, Sound, Unsound, Failed };

Read ReadJournal(FileSystem& fs, JournalState state, Journal* journal, StepFailure* failure) {
  const char* name = JournalName(state);
  std::unique_ptr<Source> file;
  FsStatus status = fs.OpenRead(name, &file);
  if (status == FsStatus::NotFound) return Read::Absent;
  Buffer bytes;
  if (status == FsStatus::Ok) {
    if (file->Size() > kMaxJournalSize) return Read::Unsound;
    if (!bytes.Resize(static_cast<size_t>(file->Size())))
      status = FsStatus::NoMemory;
    else if (!file->ReadAt(0, bytes.data(), bytes.size()))
      status = FsStatus::Failed;
  }
  if (status != FsStatus::Ok) {
    Fail(failure, name, status);
    return Read::Failed;
  }
  return DecodeJournal(bytes.view(), journal) ? Read::Sound : Read::Unsound;
}

// The pack and the keep file; false when one is there still.
bool RemoveRunFiles(FileSystem& fs) {
  bool removed = true;
  for (const char* name : {kPackName, kKeepName}) {
    const FsStatus status = fs.Remove(name);
    removed = removed && (status == FsStatus::Ok || status == FsStatus::NotFound);
  }
  return removed;
}

// Staged files only: what a run leaves before its commit.
void RemoveStaged(FileSystem& fs, const Journal& journal) {
  for (const JournalEntry& entry : journal.entries)
    if (entry.write && !entry.inPlace) fs.Remove(entry.name + kTempSuffix);
  RemoveRunFiles(fs);
}

// An in-place entry whose old file is not back from NAME.~tpold: its kept bytes go back, or a file new
// to the client goes.
FsStatus UndoRewrite(FileSystem& fs, const JournalEntry& entry, uint32_t number, KeptFiles& kept) {
  if (entry.hasOld) return kept.Restore(fs, number, entry.name);
  const FsStatus removed = fs.Remove(entry.name);
  if (removed == FsStatus::Ok) fs.RemoveEmptyFolders(entry.name);
  return removed == FsStatus::NotFound ? FsStatus::Ok : removed;
}

// Puts every old file back, last entry first, whatever step each had reached. Every step may be taken
// again: a run killed while undoing is undone by the next.
bool UndoEntries(FileSystem& fs, const Journal& journal, StepFailure* failure) {
  KeptFiles kept;
  for (size_t i = journal.entries.size(); i-- > 0;) {
    const JournalEntry& entry = journal.entries[i];
    const FsStatus restored = fs.Replace(entry.name + kBackupSuffix, entry.name);
    if (restored != FsStatus::Ok && restored != FsStatus::NotFound)
      return Fail(failure, entry.name, restored);
    if (entry.inPlace && restored != FsStatus::Ok) {
      const FsStatus put = UndoRewrite(fs, entry, static_cast<uint32_t>(i), kept);
      if (put != FsStatus::Ok) return Fail(failure, entry.name, put);
    }
    if (!entry.write) continue;
    // A staged file there still never left its name, or waits for a restart that is now not to come.
    const FsStatus unstaged = fs.Remove(entry.name + kTempSuffix);
    if (unstaged != FsStatus::Ok && unstaged != FsStatus::NotFound)
      return Fail(failure, entry.name + kTempSuffix, unstaged);
    // Over an old file, with neither its backup nor its staged file left: an undo cut short by the power
    // already put it back.
    if (unstaged == FsStatus::Ok || restored == FsStatus::Ok || entry.inPlace || entry.hasOld) continue;
    // In place with nothing before it: the file is new to the client.
    const FsStatus removed = fs.Remove(entry.name);
    if (removed != FsStatus::Ok && removed != FsStatus::NotFound) return Fail(failure, entry.name, removed);
    fs.RemoveEmptyFolders(entry.name);
  }
  return true;
}

// Then the journal goes back to Staging, which says that no client file is touched, before the keep
// file and the other files of the run's own go, and then the journal.
bool Undo(FileSystem& fs, const Journal& journal, StepFailure* failure) {
  if (!UndoEntries(fs, journal, failure)) return false;
  const FsStatus undone =
      fs.Replace(JournalName(JournalState::Committing), JournalName(JournalState::Staging));
  if (undone != FsStatus::Ok) return Fail(failure, JournalName(JournalState::Staging), undone);
  RemoveStaged(fs, journal);
  const FsStatus removed = fs.Remove(JournalName(JournalState::Staging));
  return removed == FsStatus::Ok || Fail(failure, JournalName(JournalState::Staging), removed);
}

// Once every file is in place: the backups go (one still in use goes at the restart), then the run's
// own files and the journal. `aside` says which entries have a backup (null: any may have). False when
// something could not be removed; the journal then stays so the next run tries again.
bool CleanUp(FileSystem& fs, const Journal& journal, const std::vector<bool>* aside) {
  bool complete = true, scheduled = false;
  for (size_t i = 0; i < journal.entries.size(); ++i) {
    const JournalEntry& entry = journal.entries[i];
    if (!aside || (*aside)[i]) {
      const std::string backup = entry.name + kBackupSuffix;
      const FsStatus removed = fs.Remove(backup);
      if (removed == FsStatus::Locked) {
        scheduled = true;
        if (fs.ScheduleRemove(backup) != FsStatus::Ok) complete = false;
      } else if (removed != FsStatus::Ok && removed != FsStatus::NotFound) {
        complete = false;
      }
    }
    if (!entry.write) fs.RemoveEmptyFolders(entry.name);
  }
  // A backup left for the restart is found through the journal until its deletion is on the disk.
  if (scheduled && fs.SyncScheduled() != FsStatus::Ok) complete = false;
  complete = RemoveRunFiles(fs) && complete;
  return complete && fs.Remove(JournalName(JournalState::Done)) == FsStatus::Ok;
}

// A Done journal may leave work that waited for a restart that has come since, or that could not be
// scheduled: a staged file not yet in its place, a file still to delete. Both are finished now, or
// scheduled again while the file is in use. False when one could be neither.
bool FinishLeftovers(FileSystem& fs, const Journal& journal) {
  bool complete = true, scheduled = false;
  for (const JournalEntry& entry : journal.entries) {
    FsStatus status;
    if (entry.write) {
      status = fs.Replace(entry.name + kTempSuffix, entry.name);
      if (status == FsStatus::Locked) {
        status = fs.ScheduleReplace(entry.name + kTempSuffix, entry.name);
        scheduled = true;
      }
    } else {
      status = fs.Remove(entry.name);
      if (status == FsStatus::Locked) {
        status = fs.ScheduleRemove(entry.name);
        scheduled = true;
      }
    }
    complete = complete && (status == FsStatus::Ok || status == FsStatus::NotFound);
  }
  return complete && (!scheduled || fs.SyncScheduled() == FsStatus::Ok);
}

// Copies a file's bytes from the pack into `sink`; the sink goes to the disk later.
bool CopyOut(Source& pack, Packed bytes, Sink& sink) {
  const uint64_t at = bytes.at, size = bytes.size;
  std::unique_ptr<uint8_t[]> buffer = NewBytes(static_cast<size_t>(std::min<uint64_t>(size, kChunkSize)) + 1);
  bool ok = buffer != nullptr;
  for (uint64_t done = 0; ok && done < size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunkSize, size - done));
    ok = pack.ReadAt(at + done, buffer.get(), n) && sink.WriteAt(done, ByteView(buffer.get(), n));
    done += n;
  }
  return ok;
}

}  // namespace

bool ClientTransaction::Begin(StepFailure* failure) {
  std::vector<uint8_t> bytes;
  EncodeJournal(mJournal, &bytes);
  const char* name = JournalName(JournalState::Staging);
  const FsStatus written = mFs.WriteDurable(name, ByteView(bytes.data(), bytes.size()));
  if (written != FsStatus::Ok) {
    mFs.Remove(name);
    return Fail(failure, name, written);
  }
  return true;
}

void ClientTransaction::Abandon() {
  WaitQuietly(mFs);
  RemoveStaged(mFs, mJournal);
  mFs.Remove(JournalName(JournalState::Staging));
}

bool ClientTransaction::Staged(StepFailure* failure) {
  std::string failed;
  const bool synced = mFs.WaitSynced(
      [this] {
        mStopped = mStopped || !mBeat();
        return !mStopped;
      },
      &failed);
  if (mStopped) return false;
  return synced || Fail(failure, failed, FsStatus::Failed);
}

template <class Step>
FsStatus ClientTransaction::Patiently(Step step) {
  FsStatus status = step();
  for (uint32_t waited = 0; status == FsStatus::Locked && waited < kPatienceMs; waited += kRetryMs) {
    if (!mBeat()) {
      mStopped = true;
      return FsStatus::Failed;
    }
    mFs.Sleep(kRetryMs);
    status = step();
  }
  return status;
}

bool ClientTransaction::PutInPlace(const std::vector<Packed>& packed, std::vector<Placement>* placements,
                                   StepFailure* failure) {
  placements->assign(mJournal.entries.size(), Placement::Done);
  mAside.assign(mJournal.entries.size(), false);
  const FsStatus entered = EnterState(mFs, JournalState::Staging, JournalState::Committing);
  if (entered != FsStatus::Ok) return Fail(failure, JournalName(JournalState::Committing), entered);
  mCommitting = true;
  std::unique_ptr<Source> pack;
  auto lastBeat = std::chrono::steady_clock::now();
  for (size_t i = 0; i < mJournal.entries.size(); ++i) {
    // A client of many files takes seconds to commit: the caller hears from the run meanwhile.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastBeat >= std::chrono::milliseconds(kSyncBeatMs)) {
      lastBeat = now;
      if (!mBeat()) {
        mStopped = true;
        return Fail(failure, mJournal.entries[i].name, FsStatus::Failed);
      }
    }
    const JournalEntry& entry = mJournal.entries[i];
    if (entry.inPlace && !entry.write) {
      const FsStatus removed = Patiently([&] { return mFs.Remove(entry.name); });
      if (removed == FsStatus::Locked) {
        (*placements)[i] = Placement::AtRestart;
        mScheduleBeforeDone.push_back(i);
      } else if (removed != FsStatus::Ok && removed != FsStatus::NotFound) {
        return Fail(failure, entry.name, removed);
      }
      continue;
    }
    if (entry.inPlace) {
      const FsStatus opened = pack ? FsStatus::Ok : mFs.OpenRead(kPackName, &pack);
      if (opened != FsStatus::Ok) return Fail(failure, kPackName, opened);
      const FsStatus written = Rewrite(i, *pack, packed[i], &(*placements)[i]);
      if (written != FsStatus::Ok) return Fail(failure, entry.name, written);
      continue;
    }
    const FsStatus aside = Patiently([&] { return mFs.Replace(entry.name, entry.name + kBackupSuffix); });
    mAside[i] = aside == FsStatus::Ok;
    if (aside == FsStatus::Locked) {
      // Scheduled once the journal is in Done; refused now when nothing can be scheduled.
      if (!mFs.CanSchedule()) return Fail(failure, entry.name, FsStatus::Locked);
      (*placements)[i] = Placement::AtRestart;
      mScheduleAfterDone.push_back(i);
      continue;
    }
    if (aside != FsStatus::Ok && aside != FsStatus::NotFound) return Fail(failure, entry.name, aside);
    if (!entry.write) continue;
    const FsStatus placed = Patiently([&] { return mFs.Replace(entry.name + kTempSuffix, entry.name); });
    if (placed != FsStatus::Ok) return Fail(failure, entry.name, placed);
  }
  return Staged(failure);
}

FsStatus ClientTransaction::Rewrite(size_t i, Source& pack, Packed bytes, Placement* placement) {
  const JournalEntry& entry = mJournal.entries[i];
  std::unique_ptr<Sink> sink;
  FsStatus made = Patiently([&] {
    return entry.hasOld ? mFs.Overwrite(entry.name, bytes.size, &sink) : mFs.CreateNew(entry.name, &sink);
  });
  if (made == FsStatus::Locked || made == FsStatus::Exists) {
    // In use, refused (a hidden file), or a stray file where a new one goes: moved aside first.
    const FsStatus aside = mFs.Replace(entry.name, entry.name + kBackupSuffix);
    if (aside == FsStatus::Locked) {
      // Its old bytes are kept, so the undo can take back a replacement the restart has made.
      *placement = Placement::AtRestart;
      const std::string staged = entry.name + kTempSuffix;
      const FsStatus created = mFs.Create(staged, &sink);
      if (created != FsStatus::Ok) return created;
      if (!CopyOut(pack, bytes, *sink)) return FsStatus::Failed;
      mFs.SyncLater(staged, std::move(sink));
      mScheduled = true;
      return mFs.ScheduleReplace(staged, entry.name) == FsStatus::Ok ? FsStatus::Ok : FsStatus::Locked;
    }
    if (aside != FsStatus::Ok) return aside;
    mAside[i] = true;
    made = mFs.Create(entry.name, &sink);
  }
  if (made != FsStatus::Ok) return made;
  if (!CopyOut(pack, bytes, *sink)) return FsStatus::Failed;
  mFs.SyncLater(entry.name, std::move(sink));
  return FsStatus::Ok;
}

bool ClientTransaction::Schedule(const std::vector<size_t>& entries, StepFailure* failure) {
  for (size_t i : entries) {
    mScheduled = true;
    const JournalEntry& entry = mJournal.entries[i];
    const FsStatus scheduled = entry.write ? mFs.ScheduleReplace(entry.name + kTempSuffix, entry.name)
                                           : mFs.ScheduleRemove(entry.name);
    if (scheduled != FsStatus::Ok) return Fail(failure, entry.name, FsStatus::Locked);
  }
  return true;
}

bool ClientTransaction::Finish(StepFailure* failure) {
  if (!Schedule(mScheduleBeforeDone, failure)) return false;
  const FsStatus done = EnterState(mFs, JournalState::Committing, JournalState::Done);
  if (done != FsStatus::Ok) return Fail(failure, JournalName(JournalState::Done), done);
  mCommitting = false;
  mCommitted = true;
  // What fails from here on is left to the next run, which finishes a Done journal.
  if (!Schedule(mScheduleAfterDone, failure)) return false;
  if (mScheduled && mFs.SyncScheduled() != FsStatus::Ok)
    return Fail(failure, "PendingFileRenameOperations", FsStatus::Failed);
  CleanUp(mFs, mJournal, &mAside);
  return true;
}

bool ClientTransaction::RollBack(StepFailure* failure) {
  if (mCommitted) return true;
  if (!mCommitting) {
    Abandon();
    return true;
  }
  WaitQuietly(mFs);
  if (!Undo(mFs, mJournal, failure)) return false;
  mCommitting = false;
  return true;
}

RecoveryResult RecoverInterruptedRun(FileSystem& fs) {
  RecoveryResult result;
  for (JournalState state : {JournalState::Done, JournalState::Committing, JournalState::Staging}) {
    Journal journal;
    const Read read = ReadJournal(fs, state, &journal, &result.failure);
    if (read == Read::Absent) continue;
    result.what = Recovery::Failed;
    if (read == Read::Failed) return result;
    if (read == Read::Unsound) {
      // A staging journal cut short was being written when the run died: nothing else had begun.
      if (state != JournalState::Staging || fs.Remove(JournalName(state)) != FsStatus::Ok)
        Fail(&result.failure, JournalName(state), FsStatus::Failed);
      else
        result.what = Recovery::Undone;
      return result;
    }
    result.patch = journal.patch;
    switch (state) {
      case JournalState::Done:
        if (FinishLeftovers(fs, journal)) {
          CleanUp(fs, journal, nullptr);
          result.what = Recovery::Finished;
        }
        break;
      case JournalState::Committing:
        if (Undo(fs, journal, &result.failure)) result.what = Recovery::Undone;
        break;
      case JournalState::Staging:
        RemoveStaged(fs, journal);
        if (fs.Remove(JournalName(state)) == FsStatus::Ok) result.what = Recovery::Undone;
        break;
    }
    if (result.what == Recovery::Failed && result.failure.name.empty())
      Fail(&result.failure, JournalName(state), FsStatus::Failed);
    return result;
  }
  return result;
}

}  // namespace rtp
