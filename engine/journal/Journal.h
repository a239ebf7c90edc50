#pragma once
// The commit journal: a small file in the client folder that lets a run which replaces client files be
// finished or undone later, even when its process was killed half-way or the power failed. Its name tells
// the run's state (each state is entered by renaming the file, one atomic step); its contents list the
// files the run puts in place or deletes.
//
// What a power cut leaves, as the journal counts on it: flushed file data survives, unflushed data may be
// lost, kept or torn at any block; changes of names survive in the order they were made, up to any point
// after the last flush of names (NTFS logs them in order; FAT32 and exFAT keep no order, and there the
// engine promises only never to report success before everything is flushed). Transaction.h gives the
// order of flushes built on that.
//
// Beside each large file the run touches: NAME.~tpnew is the new file, staged and checked; NAME.~tpold
// is the old one, kept while the new one takes its place. Small files are rewritten in place instead:
// their new bytes are staged in one pack file, their old bytes kept in one keep file (Kept.h). Under
// Wine a rename costs as much as writing a small file, and three of them a file would triple the run.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/base/Stream.h"

namespace rtp {

constexpr const char kTempSuffix[] = ".~tpnew";
constexpr const char kBackupSuffix[] = ".~tpold";
constexpr const char kPackName[] = "tesserine.~tppack";

enum class JournalState {
  Staging,     // new files are being built, or an undo has put every old file back: no client file is
               // touched
  Committing,  // old files are moving aside and new ones into place: undone by the next run
  Done,        // every file is in place; only backups are left to remove
};

const char* JournalName(JournalState state);

struct JournalEntry {
  std::string name;
  bool write = true;  // false: the file is deleted
  // Rewritten in place from the pack, or deleted at once: an old file's bytes are in the keep file. A
  // file new to the client goes in place only where no file of its name was before the run, so an undo
  // removes what it finds.
  bool inPlace = false;
  // A file written over an old one of its name (a large one: recorded since the undo could be cut short).
  bool hasOld = false;
};

// Which patch a journal belongs to: a run of the same patch after a finished journal has nothing to do.
struct PatchIdentity {
  uint32_t sum = 0;  // CRC-32C of the patch's first bytes
  uint64_t size = 0;
  bool operator==(const PatchIdentity& other) const { return sum == other.sum && size == other.size; }
};

// False when the patch cannot be read.
bool IdentityOf(Source& patch, PatchIdentity* out);

struct Journal {
  PatchIdentity patch;
  std::vector<JournalEntry> entries;
};

void EncodeJournal(const Journal& journal, std::vector<uint8_t>* out);
// False when the bytes are not a whole, sound journal (a torn write, or not ours).
bool DecodeJournal(ByteView bytes, Journal* out);

}  // namespace rtp
