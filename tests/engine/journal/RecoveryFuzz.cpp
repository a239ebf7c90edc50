// Fuzzes what the engine reads besides a patch: a commit journal left half-way and the recovery it
// drives, a keep file an undo writes files back from, and the installer's command line.
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "engine/base/Crc32c.h"
#include "engine/dll/EngineCommandLine.h"
#include "engine/journal/Transaction.h"

using fuzzsupport::MemoryFileSystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A commit journal left half-way (its checksum made right), with a backup of each file.
  std::string journal(reinterpret_cast<const char*>(data), size);
  if (size >= 8 && journal.compare(0, 4, "TPJ1") == 0)
    rtp::WriteU32(reinterpret_cast<uint8_t*>(&journal[size - 4]),
                  rtp::Crc32c(rtp::ByteView(reinterpret_cast<const uint8_t*>(journal.data()), size - 4)));
  MemoryFileSystem folder;
  folder.Put(rtp::JournalName(rtp::JournalState::Committing), journal);
  rtp::Journal entries;
  if (rtp::DecodeJournal(rtp::ByteView(journal), &entries))
    for (const rtp::JournalEntry& entry : entries.entries) folder.Put(entry.name + rtp::kBackupSuffix, "old");
  rtp::RecoverInterruptedRun(folder);
  // And as a keep file that an undo writes two files back from.
  MemoryFileSystem kept;
  kept.Put(rtp::kKeepName, journal);
  rtp::KeptFiles files;
  for (uint32_t entry : {0u, 1u}) files.Restore(kept, entry, "a.dat");

  // And as an engine command line.
  rtp::EngineCommand command;
  rtp::ParseEngineCommandLine(std::string(reinterpret_cast<const char*>(data), size).c_str(), &command);
  return 0;
}
