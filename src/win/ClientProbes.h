#pragma once
// Small probes of the machine for the start sequence and the patch run: where the client is, whether it
// runs, which build it has, how much disk space is free, and stamping a file with the current time.
// None of them shows anything; each reports through its result.
#include <cstdint>
#include <string>

#include "core/Ports.h"
#include "win/DebugOutput.h"

// True when "zav.exe" or "bin\zav.exe" is an existing file in the folder (with or without a trailing
// backslash). A directory of that name does not count.
bool IsClientFolder(const std::wstring& folder);

// Asks a running client (a top-level window of class "kreluiScreen") to close, at most three times with
// 100 ms between attempts. True when no client window remains.
bool CloseRunningClient();

// Finishes or undoes a patch run the engine left half-way in the folder (the engine's commit journal);
// false when a journal is there but could not be dealt with.
bool RecoverInterruptedPatch(const std::wstring& folder);

// The build from "build=" in the first kBuildFileBytes of a client configuration file; 0 when the file
// cannot be opened or read or holds no readable build.
uint32_t ReadBuildFile(const std::wstring& path);

// Free megabytes (1,048,576 bytes) available to the caller on the volume holding the folder; 0 when the
// query fails.
uint32_t GetFreeDiskSpaceMB(const std::wstring& folder);

// Sets the creation, last-access and last-write times of an existing file to now. A file that cannot be
// opened is left alone and nothing is created; errors are not reported.
void TouchFile(const std::wstring& path);

// The lookup of short (8.3) names, GetShortPathNameW unless a test puts its own in place (to meet a
// volume without short names). Null restores the system's; returns the previous one.
using ShortPathLookup = unsigned long(__stdcall*)(const wchar_t* path, wchar_t* shortPath,
                                                  unsigned long length);
ShortPathLookup SetShortPathLookup(ShortPathLookup lookup);

// The probes as the install flow meets them.
class CWinProbes : public core::ClientProbes {
 public:
  bool IsClientFolder(const std::wstring& folder) override;
  bool CloseRunningClient() override;
  bool RecoverInterruptedPatch(const std::wstring& folder) override;
  uint32_t ReadBuildFile(const std::wstring& path) override;
  uint32_t GetFreeDiskSpaceMB(const std::wstring& folder) override;
  std::wstring ShortPath(const std::wstring& path) override;
  void TouchFile(const std::wstring& path) override;
};

// The shell's hand-over (as the user when elevated), the system restart and the debugger's trace.
class CWinSystemActions : public core::SystemActions {
 public:
  void Open(const std::wstring& target) override;
  void RequestSystemRestart() override;
  void Trace(const std::wstring& text) override;

 private:
  CDebugOutput mDebugOutput;
};
