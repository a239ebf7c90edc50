#pragma once
// The machine as the install flow meets it, one small interface per kind of thing. The Win32 edge
// implements each; the flow's tests use fakes.
#include <cstdint>
#include <string>

namespace core {

// The string table, the system's ANSI code page and its lower-casing.
class Texts {
 public:
  // The string-table text; empty when there is no such id.
  virtual std::wstring Load(uint32_t id) = 0;
  // 8-bit text in the ANSI code page, up to `length` bytes, to UTF-16.
  virtual std::wstring Widen(const char* bytes, size_t length) = 0;
  // UTF-16 to the ANSI code page, exactly: false when a character has no form of its own there.
  virtual bool Narrow(const std::wstring& text, std::string* bytes) = 0;
  // Lower case by the user's locale, as archive names are compared.
  virtual std::wstring Lower(const std::wstring& text) = 0;

 protected:
  ~Texts() = default;
};

// The client's folder, process and files.
class ClientProbes {
 public:
  // True when "zav.exe" or "bin\zav.exe" is a file in the folder.
  virtual bool IsClientFolder(const std::wstring& folder) = 0;
  // Asks a running client to close; true when none remains.
  virtual bool CloseRunningClient() = 0;
  // Finishes or undoes a patch run that was interrupted in the folder (its commit journal is still
  // there), so the client's files are all of one version before anything reads them; nothing happens
  // when there is none. False when a journal was found but could not be dealt with.
  virtual bool RecoverInterruptedPatch(const std::wstring& folder) = 0;
  // The build from "build=" in a client configuration file; 0 when none is found.
  virtual uint32_t ReadBuildFile(const std::wstring& path) = 0;
  // Free megabytes on the folder's volume; 0 when the query fails.
  virtual uint32_t GetFreeDiskSpaceMB(const std::wstring& folder) = 0;
  // The short (8.3) form of an existing path; empty when the system has none.
  virtual std::wstring ShortPath(const std::wstring& path) = 0;
  // Sets an existing file's times to now; nothing happens when it cannot be opened.
  virtual void TouchFile(const std::wstring& path) = 0;

 protected:
  ~ClientProbes() = default;
};

// What the installer asks of the system beyond the client: the hand-over to other programs, the
// restart, and the debugger's trace.
class SystemActions {
 public:
  // Opens an address or a program with the shell's default action; the result is not known.
  virtual void Open(const std::wstring& target) = 0;
  virtual void RequestSystemRestart() = 0;
  // A line for the debugger's output; nothing depends on it.
  virtual void Trace(const std::wstring& text) = 0;

 protected:
  ~SystemActions() = default;
};

// The archive appended to the installer.
class ArchiveEntries {
 public:
  // The name at index; empty past the last entry or when there is no archive.
  virtual std::wstring EntryName(uint32_t index) = 0;
  // A read-only view of the named entry's bytes (first match ignoring case), or null.
  virtual const uint8_t* MapEntry(const std::wstring& name, uint32_t* size) = 0;
  virtual void UnmapEntry(const uint8_t* bytes) = 0;
  // Moves the archive's one read position to the named entry's first byte; false when it is missing.
  virtual bool OpenEntry(const std::wstring& name, uint32_t* size) = 0;
  // Reads exactly `length` bytes at the read position; false with the system's error code.
  virtual bool Read(void* buffer, uint32_t length, uint32_t* error) = 0;

 protected:
  ~ArchiveEntries() = default;
};

// The temporary folder and the one file being written into it.
class TempFiles {
 public:
  // Makes a new folder of our own under the user's temporary folder. *folder receives its path with a
  // trailing backslash, or the path tried when none could be made (empty when there was none to try).
  virtual bool MakeFolder(std::wstring* folder) = 0;
  // Free megabytes on the user's temporary folder's volume, rounded down; 0 when that cannot be told.
  virtual uint32_t FreeSpaceMB() = 0;
  virtual bool Create(const std::wstring& path) = 0;
  // Writes all of `length` bytes to the created file; false with the system's error code.
  virtual bool Write(const void* bytes, uint32_t length, uint32_t* error) = 0;
  virtual void Close() = 0;
  virtual void Delete(const std::wstring& path) = 0;
  virtual void RemoveFolder(const std::wstring& folder) = 0;

 protected:
  ~TempFiles() = default;
};

// Receives the engine's notifications while it runs.
class EngineListener {
 public:
  // Null asks the engine to stop; anything else lets it go on.
  virtual const char* OnEngineMessage(uint32_t id, void* param) = 0;

 protected:
  ~EngineListener() = default;
};

// The patch engine library.
class PatchEngine {
 public:
  virtual bool Load(const std::wstring& path) = 0;
  virtual bool HasApply() = 0;
  // The system's error code of the failed lookup of the apply entry point.
  virtual uint32_t BindError() = 0;
  // The biggest disk need in bytes; false when the library has no cost entry point.
  virtual bool GetCost(const std::wstring& patchPath, uint32_t* biggestSz) = 0;
  // Runs the engine on this thread until it has finished; every notification reaches `listener`.
  virtual void Apply(const char* commandLine, EngineListener& listener) = 0;
  virtual void Free() = 0;

 protected:
  ~PatchEngine() = default;
};

// The extraction thread.
class WorkerThread {
 public:
  virtual bool Start(void (*body)(void*), void* argument) = 0;
  // Waits until the body has returned (serving what the body waits for on the caller's thread).
  virtual void Join() = 0;

 protected:
  ~WorkerThread() = default;
};

struct RunPorts {
  Texts& texts;
  ClientProbes& probes;
  SystemActions& system;
  ArchiveEntries& archive;
  TempFiles& temp;
  PatchEngine& engine;
  WorkerThread& thread;
};

}  // namespace core
