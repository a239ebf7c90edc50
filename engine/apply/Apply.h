#pragma once
// The engine's run: applies a patch to a client folder and reports every step through callbacks.
//
// The callbacks, in order:
//   - a patch that is not sound: id 3 with error 8 or 9, nothing else; a missing client folder: id 3
//     with error 15
//   - a run that died half-way (its commit journal is still in the folder) is finished or undone first;
//     when that fails, id 3 with error 21
//   - id 6 with the number of files
//   - after a recovery, id 9 saying which; when the finished run was of this very patch, nothing more
//   - when the client's drive has less free space than the run needs, id 3 with error 22 ("need N MB,
//     free M MB"), before anything is written
//   - every old file the patch needs is checked before anything is written: when one is missing (15),
//     cannot be read (19) or differs in size (36), id 7 with its name and then id 3. Every
//     kFilesPerHeartbeat-th file sends id 10 before it is checked, so the caller's window stays alive; a
//     file whose bytes differ is found as it is read (36, and nothing is replaced)
//   - the files in order. A file sends id 7 with its name and id 5 with 0, then 0x2000; the new one is
//     built, written beside the old one as NAME.~tpnew (a small one into the run's pack) and checked
//     against its size and CRC-32C (id 5 0x6000); then id 5 0x8000. Id 5's number holds the progress in
//     1/32768 in its low 16 bits and the file's number (1, 2, ...) in its high 16 bits. While a large
//     file is written, id 5 also comes every kProgressEvery bytes, rising towards 0x6000.
//   - when every new file is built, they take their places together (see ClientTransaction). Then, for
//     each file in order: id 26 when it is in use and will be replaced at the next restart (28: deleted
//     then), and id 9 with a line saying what was done.
// Files pass through buffers of at most kChunkSize bytes: the run's memory does not grow with them.
// The run stops at once when a callback returns null and after any id 3, whatever that callback
// returned. Until the last callback the old files are kept: a stop or an error puts every one back and
// removes everything of the run's own (after a failed step, id 9 says so before id 3).
#include <cstdint>
#include <string>

#include "engine/base/Bytes.h"
#include "engine/fs/FileSystem.h"
#include "engine/journal/Journal.h"

namespace rtp {

class Listener {
 public:
  virtual ~Listener() = default;
  // Sends one callback. False when the receiver asked to stop (the callback returned null).
  virtual bool Notify(uint32_t id, void* param) = 0;
};

constexpr uint32_t kHeartbeatMs = 50;
constexpr uint64_t kProgressEvery = 4 * kChunkSize;
constexpr uint32_t kFilesPerHeartbeat = 32;

// 0 when every file was done; otherwise the error number sent with id 3, or kErrAborted when a callback
// asked to stop.
uint32_t ApplyPatch(Source& patch, FileSystem& fs, Listener& listener);
uint32_t ApplyPatch(ByteView patch, FileSystem& fs, Listener& listener);

// Sends id 3 with ErrorText(number, detail) and returns `number`.
uint32_t SendError(Listener& listener, uint32_t number, const std::string& detail);

}  // namespace rtp
