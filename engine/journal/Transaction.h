#pragma once
// A run's changes to the client folder as one transaction over the commit journal:
//   Begin        writes the journal (state Staging) before the first new file is staged
//   Keep         copies the old bytes of a file to be rewritten in place into the keep file
//   SealKept     puts the keep file on the disk: before any file is rewritten
//   Staged       waits until the staged files are on the disk
//   PutInPlace   enters Committing, rewrites each small file in place from the pack (or deletes it), moves
//                each other old file aside as NAME.~tpold and its staged file into its place, and waits
//                until every file it wrote is on the disk; a file in use is left for the restart
//   Finish       schedules what waits for the restart, enters Done, removes the backups, the pack, the
//                keep file and the journal
//   RollBack     puts every old file back and removes everything of the run's own
// Whatever moment the process dies at, or the power fails at, RecoverInterruptedRun on the next start
// ends the client at the old version (Staging, Committing) or the new one (Done).
//
// The order that makes a power cut safe (FileSystem.h says what survives one):
//   - the journal's bytes are on the disk before the first file is staged, and its name comes before every
//     later one in the disk's order: what a run leaves can be found;
//   - the keep file's bytes are on the disk before the first file is rewritten in place, and the staged
//     files' bytes before the journal enters Committing: the undo and the new version are there;
//   - Committing is on the disk before the first client file is touched, so a run seen in Staging has
//     touched none;
//   - every file written in place is on the disk before the journal enters Done, and Done is on the
//     disk before a backup, the keep file or the journal goes and before the run reports success;
//   - what an undo writes back is on the disk before the journal returns to Staging (no client file is
//     touched) and the keep file goes: an undo cut short is undone again.
// A replacement or deletion scheduled for the restart lives in the registry, outside the journal, and a
// power cut is a restart: the system may carry it out before the next run reads the journal. So only
// one that the undo can take back is scheduled before Done (a file rewritten in place: its old bytes
// are kept); a large file in use waits until Done, and the recovery of a Done journal finishes whatever
// is left (a staged file not yet in its place, a file still to delete). What is scheduled is put on the
// disk before the run reports success.
#include <functional>
#include <string>
#include <vector>

#include "engine/fs/FileSystem.h"
#include "engine/journal/Journal.h"
#include "engine/journal/Kept.h"

namespace rtp {

// What became of one entry at the commit.
enum class Placement {
  Done,
  AtRestart,  // the file was in use: it is replaced or deleted when the computer restarts
};

// Where an in-place entry's new bytes are in the pack.
struct Packed {
  uint64_t at = 0;
  uint64_t size = 0;
};

// Where a transaction failed: the file, and what the file system said.
struct StepFailure {
  std::string name;
  FsStatus status = FsStatus::Failed;
};

class ClientTransaction {
 public:
  // `beat` is called while the transaction waits (for the disk, or for a file a scanner holds); false
  // from it stops the run.
  ClientTransaction(FileSystem& fs, Journal journal, std::function<bool()> beat)
      : mFs(fs), mJournal(std::move(journal)), mBeat(std::move(beat)) {}

  bool Begin(StepFailure* failure);
  // Removes the staged files and the journal: no client file was touched.
  void Abandon();
  // Keeps all of `old` for in-place entry `entry`; *at receives where its bytes are in the keep file.
  FsStatus Keep(size_t entry, Source& old, uint64_t* at) {
    return mKept.Add(static_cast<uint32_t>(entry), old, at);
  }
  FsStatus SealKept() { return mKept.Seal(); }
  // Waits until the files given to the file system's SyncLater are on the disk; false when one cannot
  // be written (its name in failure) or the run was stopped meanwhile.
  bool Staged(StepFailure* failure);
  // `packed[i]` is where in-place entry i's new bytes are in the pack; `placements` receives one value
  // per entry. On false, RollBack undoes what was done.
  bool PutInPlace(const std::vector<Packed>& packed, std::vector<Placement>* placements,
                  StepFailure* failure);
  // False when a step failed: before Done, RollBack then undoes the transaction; after it (Committed),
  // the journal stays so that the next run finishes what is left.
  bool Finish(StepFailure* failure);
  // False when a file could not be put back; the journal then stays for the next run to try again.
  bool RollBack(StepFailure* failure);
  // True once the run was stopped while the transaction waited.
  bool Stopped() const { return mStopped; }
  // True once the journal is in Done: nothing is undone any more.
  bool Committed() const { return mCommitted; }

 private:
  FsStatus Rewrite(size_t entry, Source& pack, Packed bytes, Placement* placement);
  template <class Step>
  FsStatus Patiently(Step step);
  bool Enter(JournalState from, JournalState to, StepFailure* failure);
  bool Schedule(const std::vector<size_t>& entries, StepFailure* failure);

  FileSystem& mFs;
  Journal mJournal;
  std::function<bool()> mBeat;
  KeepWriter mKept{mFs};
  // Entries in use, left for the restart: scheduled before Done (the undo can take them back) or after.
  std::vector<size_t> mScheduleBeforeDone;
  std::vector<size_t> mScheduleAfterDone;
  // Per entry: its old file was moved aside as NAME.~tpold (the backup to remove when done).
  std::vector<bool> mAside;
  bool mCommitting = false;
  bool mCommitted = false;
  bool mScheduled = false;  // something waits for the restart: its record goes to the disk before success
  bool mStopped = false;
};

enum class Recovery {
  Nothing,   // no journal
  Undone,    // the client is as it was before the interrupted run
  Finished,  // the interrupted run's new files are all in place
  Failed,    // a file could not be put right; the journal stays
};

struct RecoveryResult {
  Recovery what = Recovery::Nothing;
  PatchIdentity patch;
  StepFailure failure;
};

// Finishes or undoes a run that a journal says was interrupted. Before anything else reads the client.
RecoveryResult RecoverInterruptedRun(FileSystem& fs);

}  // namespace rtp
