// Fuzzes the engine's reading of a patch file and everything that follows from it: the parser, the cost,
// and a whole run against an in-memory client folder. Inputs that look like a patch get their size and
// checksum fields made right first, so the fuzzer reaches the entries instead of stopping at the CRC-32.
// The same bytes also go through the commit journal's reader and the recovery it drives, and the keep
// file's.
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "engine/apply/Apply.h"
#include "engine/build/Builder.h"
#include "engine/dll/EngineCommandLine.h"
#include "engine/format/PatchFormat.h"
#include "engine/base/Crc32c.h"
#include "engine/journal/Transaction.h"

using fuzzsupport::CountingListener;
using fuzzsupport::MemoryFileSystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  if (size >= rtp::kHeaderSize && std::memcmp(data, rtp::kMagic, sizeof rtp::kMagic) == 0) {
    rtp::WriteU32(&bytes[28], static_cast<uint32_t>(size - rtp::kHeaderSize));
    rtp::WriteU32(&bytes[32],
                  rtp::Crc32(rtp::ByteView(bytes.data() + rtp::kHeaderSize, size - rtp::kHeaderSize)));
    rtp::WriteU32(&bytes[36], rtp::Crc32(rtp::ByteView(bytes.data(), 36)));
  }
  const rtp::ByteView view(bytes.data(), bytes.size());

  rtp::Patch patch;
  rtp::FormatError error;
  if (rtp::ParsePatch(view, &patch, &error)) {
    rtp::ComputeCost(patch);
    MemoryFileSystem client;
    size_t planted = 0;
    for (const rtp::PatchEntry& entry : patch.entries) {
      // Old files as the patch expects them only where that is cheap; the others differ or are missing.
      if (!entry.IsFile() || entry.op == rtp::Op::Add || entry.oldSize > (1u << 16)) continue;
      if (++planted % 4 != 0) client.Put(entry.name, std::string(entry.oldSize, '\0'));
    }
    CountingListener listener;
    rtp::ApplyPatch(view, client, listener);
  }

  // The same bytes as a commit journal left half-way (its checksum made right), with a backup of each file.
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

  // The same bytes as an engine command line and as a recipe of test controls.
  std::string text(reinterpret_cast<const char*>(data), size);
  rtp::EngineCommand command;
  rtp::ParseEngineCommandLine(text.c_str(), &command);
  rtp::Controls controls;
  std::string why;
  controls.AddRecipe(rtp::ByteView(text), &why);
  return 0;
}
