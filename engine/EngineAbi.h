#pragma once
// What the installer and the patch engine library patchw32.dll agree on: the two entry points it exports,
// the callback it calls, the callback ids with their parameters and the error numbers in its error texts.
// The installer binds the library, the engine exports it, and their tests call it: all of them
// take the types from here. The engine's own format and inner working are not part of it.
#include <cstddef>
#include <cstdint>

// Standard call: the callee removes its arguments, which is why the exported names carry their sizes.
#if defined(_WIN32)
#define RTPATCH_CALL __stdcall
#else
#define RTPATCH_CALL
#endif

namespace rtp {

// The callback: a notification id and its parameter. Null asks the engine to stop; anything else (the
// installer returns an empty 8-bit text) lets it go on. Called on the thread that called Apply.
using Callback = void*(RTPATCH_CALL*)(uint32_t id, void* param);

// Applies the patch named by the 8-bit command line ("\"FOLDER\" \"PATCH", ANSI code page, at most
// kCommandLineSize bytes with its terminator) and returns when done. The installer ignores the result.
using ApplyFn = uint32_t(RTPATCH_CALL*)(const char* commandLine, Callback callback, uint32_t wait);
// What applying the patch at the UTF-16 path costs; the installer reads only biggestSz (bytes).
using GetCostFn = uint32_t(RTPATCH_CALL*)(const wchar_t* patchPath, uint32_t* biggestSz,
                                          uint32_t* newSystemSz, uint32_t* oldSystemSz, uint32_t* numFiles,
                                          uint32_t zero);

constexpr char kApplyEntry[] = "RTPatchApply32@12";
constexpr char kGetCostEntry[] = "RTPatchGetCost@24";
constexpr size_t kCommandLineSize = 520;

// Callback ids and their parameters. Ids not listed carry no parameter the installer relies on.
enum CallbackId : uint32_t {
  kIdWarning = 1,         // 8-bit text
  kIdWarning2 = 2,        // 8-bit text
  kIdError = 3,           // 8-bit text holding "ept" and the error number right behind it
  kIdWarning4 = 4,        // 8-bit text
  kIdProgress = 5,        // pointer to a 32-bit value: low 16 bits the file's progress in 1/32768
  kIdFileCount = 6,       // pointer to the unsigned 32-bit number of files
  kIdFileStart = 7,       // 8-bit name of the file now processed
  kIdDetail = 9,          // 8-bit text line
  kIdLockedReplace = 26,  // none: a locked file is replaced at the next restart
  kIdLockedDelete = 28,   // none: a locked file is deleted at the next restart
};

// The progress value that means "this file is done".
constexpr uint32_t kProgressDone = 0x8000;

// Error numbers, as written after "ept" in an error text. The installer gives 8, 9, 15 and 36 texts of
// their own; the others are the engine's.
enum ErrorNumber : uint32_t {
  kOk = 0,
  kErrCommandLine = 2,       // the command line does not name a client folder and a patch file
  kErrNoMemory = 5,          // a file or a table did not fit in memory
  kErrFormatVersion = 8,     // the patch file is of another format version
  kErrCorrupt = 9,           // the patch file is damaged, truncated or not a patch file
  kErrPatchUnreadable = 10,  // the patch file cannot be opened or read
  kErrFileNotFound = 15,     // a file (or the client folder) the patch changes is missing
  kErrRead = 19,             // a client file exists but cannot be read (another program holds it)
  kErrWrite = 20,            // a new file cannot be written beside the old one
  kErrReplace = 21,          // a new file cannot take the old one's place, nor be scheduled to
  kErrDiskSpace = 22,        // the client's drive has less free space than the run needs: nothing was
                             // written; the text says "need N MB, free M MB"
  kErrMismatch = 36,         // a client file's size or CRC-32 differs from what the patch expects
  kErrAborted = 99,          // the callback asked to stop; returned only, never sent
};

}  // namespace rtp
