#pragma once
// The temporary folder the engine library and the patch file are extracted to, and the file being written.
#include <windows.h>

#include "core/Ports.h"
#include "framework/Handle.h"

class CTempFolder : public core::TempFiles {
 public:
  // A folder with a name from the system's random number generator (64 bits, in hex), made only if
  // nothing of that name exists. When this process is elevated, only SYSTEM and the administrators may
  // change what is in it: another program of the same user could otherwise swap the engine library
  // between extraction and loading.
  bool MakeFolder(std::wstring* folder) override;
  uint32_t FreeSpaceMB() override;
  bool Create(const std::wstring& path) override;
  bool Write(const void* bytes, uint32_t length, uint32_t* error) override;
  void Close() override { mFile.Close(); }
  void Delete(const std::wstring& path) override;
  void RemoveFolder(const std::wstring& folder) override;

 private:
  CHandle mFile;
};

// What an elevated installer's folder lets others do: SYSTEM and the administrators have full control,
// the user reads and runs only, nothing is inherited from the temporary folder above, and the files
// made inside take the same. False when the user's identity cannot be read.
bool AdministratorsOnly(CLocalDescriptor* descriptor);
