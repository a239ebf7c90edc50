#pragma once
// The temporary folder the engine library and the patch file are extracted to, and the file being written.
#include "core/Ports.h"
#include "framework/Handle.h"

class CTempFolder : public TempFiles {
 public:
  bool MakeFolder(std::wstring* folder) override;
  bool Create(const std::wstring& path) override;
  bool Write(const void* bytes, uint32_t length, uint32_t* error) override;
  void Close() override { mFile.Close(); }
  void Delete(const std::wstring& path) override;
  void RemoveFolder(const std::wstring& folder) override;

 private:
  CHandle mFile;
};
