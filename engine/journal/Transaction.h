#pragma once
// A run's changes to the client folder as one transaction over the commit journal:
//   Begin        writes the journal (state Staging) before the first new file is staged
//   Keep         copies the old bytes of a file to be rewritten in place into the keep file
//   SealKept     puts the keep file on the disk: before any file is rewritten
//   PutInPlace   enters Committing, rewrites each small file in place from the pack (or deletes it), moves
//                each other old file aside as NAME.~tpold and its staged file into its place; a file in
//                use is left for the restart
//   Finish       schedules the deletion of files in use, enters Done, removes the backups, the pack, the
//                keep file and the journal
//   RollBack     puts every old file back and removes everything of the run's own
// Whatever moment the process dies at, RecoverInterruptedRun on the next start ends the client at the
// old version (Staging, Committing) or the new one (Done).
//
// A replacement scheduled for the restart is undone by removing its staged file; a deletion scheduled
// for the restart cannot be undone, so deletions are scheduled last, when nothing else can fail.
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
  ClientTransaction(FileSystem& fs, Journal journal) : mFs(fs), mJournal(std::move(journal)) {}

  bool Begin(StepFailure* failure);
  // Removes the staged files and the journal: no client file was touched.
  void Abandon();
  // Keeps all of `old` for in-place entry `entry`; *at receives where its bytes are in the keep file.
  FsStatus Keep(size_t entry, Source& old, uint64_t* at) {
    return mKept.Add(static_cast<uint32_t>(entry), old, at);
  }
  FsStatus SealKept() { return mKept.Seal(); }
  // `packed[i]` is where in-place entry i's new bytes are in the pack; `placements` receives one value
  // per entry. On false, RollBack undoes what was done.
  bool PutInPlace(const std::vector<Packed>& packed, std::vector<Placement>* placements,
                  StepFailure* failure);
  // False when a step before Done failed; RollBack then undoes the transaction.
  bool Finish(StepFailure* failure);
  // False when a file could not be put back; the journal then stays for the next run to try again.
  bool RollBack(StepFailure* failure);

 private:
  FsStatus Rewrite(size_t entry, Source& pack, Packed bytes, Placement* placement);

  FileSystem& mFs;
  Journal mJournal;
  KeepWriter mKept{mFs};
  std::vector<size_t> mDeferredDeletes;
  // Per entry: its old file was moved aside as NAME.~tpold (the backup to remove when done).
  std::vector<bool> mAside;
  bool mCommitting = false;
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
