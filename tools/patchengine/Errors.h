#pragma once
// The engine's error numbers and the texts it sends with callback id 3. Every text starts
// "Error ept<number>: ", so a reader that looks for the first "ept" finds the number right behind it;
// the rest of the text must therefore be written after the number, never before it.
#include <cstdint>
#include <string>

namespace rtp {

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
  kErrMismatch = 36,         // a client file's size or CRC-32 differs from what the patch expects
  kErrAborted = 99,          // the callback asked to stop; returned only, never sent
};

// "file not found" for 15, and so on; "unknown error" for numbers the engine does not know.
const char* ErrorName(uint32_t number);

// "Error ept15: file not found", and with a detail "Error ept15: file not found: bin\zav.exe".
std::string ErrorText(uint32_t number, const std::string& detail = std::string());

}  // namespace rtp
