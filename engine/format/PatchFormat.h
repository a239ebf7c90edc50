#pragma once
// The engine's patch file. A patch turns a client folder at one version into the next: per client
// file one operation, each checked against the old file's size and CRC-32 before anything is written.
// All numbers are little-endian. The whole file is covered by two CRC-32s, so a damaged or truncated
// patch is refused before any client file is touched. A patch is read and written front to back in
// pieces: it may be far larger than the memory of the process that reads it.
//
// Header, 40 bytes:
//   0  8  magic "TESPATCH"
//   8  2  format version, 1 (a reader refuses any other version with error 8, before anything else
//         but the magic is looked at)
//  10  2  header size, 40
//  12  4  flags: 1 = the biggest-size field overrides the computed disk need,
//                2 = the announced-files field replaces the file count sent with callback id 6,
//                4 = no file count is sent at all (id 6 is left out); 2 and 4 exclude each other
//  16  4  entry count (at most kMaxEntries)
//  20  4  biggest size override in bytes (0 unless flag 1)
//  24  4  announced file count (0 unless flag 2)
//  28  4  body size: the bytes after the header, which must end exactly at the end of the file
//  32  4  CRC-32 of the body
//  36  4  CRC-32 of header bytes 0..35
//
// Body: `entry count` entries, each a 28-byte head, then the name, then the payload:
//   0  1  operation: 1 add, 2 replace, 3 delete, 4 delta, 5 notice
//   1  1  notice: the callback id to send; 0 for the file operations
//   2  2  name length (file operations: 1..259; notice: 0)
//   4  4  old size      } the client file the patch expects before; 0 for add and notice
//   8  4  old CRC-32    }
//  12  4  new size      } the file the operation produces; 0 for delete and notice
//  16  4  new CRC-32    }
//  20  4  delay in ms before the entry is done (0..60000), spread over the entry's callbacks
//  24  4  payload length
//   name: the client file, relative to the client folder, '\' between folders: UTF-8 text (well formed)
//         without control characters and <>:"|?*/, at most kMaxNameLength bytes, no empty, "." or ".."
//         part, no blank or dot at the end of a part; unique ignoring the case of ASCII letters. Windows
//         takes the name as UTF-16; the engine's callbacks give it in the ANSI code page.
//   payload:
//     add, replace  the whole new file (length = new size, CRC-32 = new CRC-32)
//     delete        nothing
//     delta         copy/insert instructions against the old file (see Delta.h), producing new size bytes
//     notice        what the callback's parameter points to: the text without its zero byte for ids
//                   1, 2, 3, 4, 7, 9 (no zero byte inside); a 4-byte number for ids 5 and 6; nothing for
//                   any other id (the parameter is then null)
//
// Notices are test controls: the engine sends them in entry order among the files, so a patch can make
// the engine warn (1, 2, 4), fail with any error text (3; the engine stops after it), add detail lines (9),
// report a locked file (26, 28), or send any id, and a delay on any entry keeps the engine busy for a while.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/base/Stream.h"
#include "engine/EngineAbi.h"

namespace rtp {

constexpr uint8_t kMagic[8] = {'T', 'E', 'S', 'P', 'A', 'T', 'C', 'H'};
constexpr uint16_t kFormatVersion = 1;
constexpr uint32_t kHeaderSize = 40;
constexpr uint32_t kEntryHeadSize = 28;
// In bytes: deep folders of a client whose names are Chinese (three bytes a character) take many.
constexpr size_t kMaxNameLength = 1023;
constexpr uint32_t kMaxDelayMs = 60000;
constexpr uint32_t kMaxNoticeText = 4096;
// Every entry is held in memory while the patch is applied; no client has nearly this many files.
constexpr uint32_t kMaxEntries = 1u << 20;

enum HeaderFlag : uint32_t {
  kFlagBiggest = 1,
  kFlagAnnounce = 2,
  kFlagNoAnnounce = 4,
};

enum class Op : uint8_t { Add = 1, Replace = 2, Delete = 3, Delta = 4, Notice = 5 };

// The engine's own callback id beside those of the interface: param null, sent every 50 ms while a
// notice's delay runs. The installer ignores it.
constexpr uint32_t kIdHeartbeat = 10;

// The parameter form of a callback id: an 8-bit text, a pointer to a 32-bit number, or null.
enum class ParamKind { Text, Number, None };
ParamKind ParamKindOf(uint32_t id);

struct PatchHeader {
  uint32_t flags = 0;
  uint32_t biggest = 0;
  uint32_t announced = 0;
};

struct PatchEntry {
  Op op = Op::Add;
  uint8_t noticeId = 0;
  std::string name;
  uint32_t oldSize = 0;
  uint32_t oldCrc = 0;
  uint32_t newSize = 0;
  uint32_t newCrc = 0;
  uint32_t delayMs = 0;
  uint32_t payloadSize = 0;    // as read
  uint64_t payloadOffset = 0;  // where the payload starts in the patch file, as read
  std::string notice;          // a notice's payload, as read (at most kMaxNoticeText bytes)
  ByteView payload;            // the bytes WritePatch lays down, in storage its caller keeps

  bool IsFile() const { return op != Op::Notice; }
};

struct Patch {
  PatchHeader header;
  std::vector<PatchEntry> entries;

  uint32_t FileCount() const;
};

// Why a patch was refused: error 8 or 9 (or 5 when memory ran out) and what was wrong.
struct FormatError {
  uint32_t number = 0;
  std::string detail;
};

// Fills *error (when there is one) and returns false: how the readers of every version fail.
inline bool FailFormat(FormatError* error, uint32_t number, std::string detail) {
  if (error) {
    error->number = number;
    error->detail = std::move(detail);
  }
  return false;
}

// Reads and checks a whole patch in one pass: header, both CRC-32s, every entry, delta instructions
// and payload checksums. Entries locate their payloads in the patch file by offset. Besides 8 and 9, the
// error is 10 when the file cannot be read and 5 when memory runs out.
bool ParsePatch(Source& patch, Patch* out, FormatError* error);
bool ParsePatch(ByteView bytes, Patch* out, FormatError* error);

// The client-file name rule above.
bool IsValidName(const std::string& name);
// A name as Windows compares it: ASCII letters in lower case.
std::string FoldName(const std::string& name);

// Writes a patch into a sink: entries one after another, each payload put in pieces after its head,
// then the header, which holds the counts and checksums of everything after it. It checks nothing, so
// tests can write patches that break the rules on purpose.
class PatchWriter {
 public:
  explicit PatchWriter(Sink& sink);
  bool Ok() const { return mPayload.Ok(); }
  // Starts an entry: its payload goes through Payload() and EndEntry completes it.
  void BeginEntry(size_t nameLength);
  SinkWriter& Payload() { return mPayload; }
  // Drops what was put into the payload so far.
  void RestartPayload() { mPayload.Restart(mPayloadAt); }
  // Writes the head and name of the entry begun last, its payload size being what was put.
  bool EndEntry(const PatchEntry& entry);
  bool Finish(const PatchHeader& header);
  uint64_t Size() const { return mEnd; }

 private:
  Sink& mSink;
  SinkWriter mPayload;
  uint64_t mEnd = kHeaderSize;  // where the next entry goes
  uint64_t mPayloadAt = 0;
  uint32_t mBodyCrc = 0;
  uint32_t mEntries = 0;
};

// Lays out the header and entries (payloads from `payload`) into memory. False when memory runs out.
bool WritePatch(const PatchHeader& header, const std::vector<PatchEntry>& entries, Buffer* out);

// What applying the patch costs on disk, all in bytes (clamped to 2^32 - 1):
//   biggest  the most extra disk space the run holds at one moment: the net growth of the files
//            done so far plus the new file being written beside its old one (or the override)
//   newSize  the sizes of all files the patch writes (add, replace, delta)
//   oldSize  the sizes of all old files it replaces or deletes
//   files    the number of file entries
struct PatchCost {
  uint32_t biggest = 0;
  uint32_t newSize = 0;
  uint32_t oldSize = 0;
  uint32_t files = 0;
};
PatchCost ComputeCost(const Patch& patch);

const char* OpName(Op op);

}  // namespace rtp
