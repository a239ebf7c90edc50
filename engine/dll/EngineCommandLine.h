#pragma once
// The command line the installer hands the engine: two paths, each usually in double quotes, the client
// folder first and the patch file second, e.g.
//   "C:\Games\ZAV" "C:\Temp\s1.1\zav.2.12.4526-2.12.4536.rtp
// The installer leaves out the last closing quote, so a quoted path also ends at the end of the text.
// Paths without blanks may come unquoted; blanks and tabs separate. The paths are 8-bit text in the ANSI
// code page and are taken byte for byte (a trailing backslash is dropped only after conversion: in a
// double-byte code page, 0x5C can be the second byte of a character).
#include <cstddef>
#include <string>

namespace rtp {

struct EngineCommand {
  std::string clientFolder;
  std::string patchPath;
};

// Longer command lines are refused: the installer's buffer is 520 bytes, and this bounds the scan of a
// text that might lack its terminating zero.
constexpr size_t kMaxCommandLine = 32768;

// False unless exactly two non-empty paths are given.
bool ParseEngineCommandLine(const char* text, EngineCommand* out);

}  // namespace rtp
