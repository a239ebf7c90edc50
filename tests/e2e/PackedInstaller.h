#pragma once
// Installers packed in the test: the real Tesserine.exe with a chosen archive appended.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Driver.h"
#include "archive/EmbedFsWriter.h"

namespace e2e {

inline std::string Narrow(const std::wstring& ascii) {
  return std::string(ascii.begin(), ascii.end());
}

inline std::string ReadDataFile(const std::wstring& name) {
  std::ifstream in(Narrow(BinPath(L"data\\" + name)), std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

struct Entry {
  std::string name;
  std::string bytes;
};

// An installer: the real Tesserine.exe with the given entries appended as its archive.
class PackedInstaller {
 public:
  explicit PackedInstaller(const std::vector<Entry>& entries) {
    std::vector<embedfs::PackInput> inputs;
    for (size_t i = 0; i < entries.size(); ++i) {
      std::wstring file = L"entry" + std::to_wstring(i);
      mDir.WriteFile(file, entries[i].bytes);
      inputs.push_back({entries[i].name, Narrow(mDir / file)});
    }
    std::string error;
    mOk =
        embedfs::Pack(Narrow(BinPath(L"Tesserine.exe")), inputs, {}, Narrow(mDir / L"installer.exe"), &error);
    mError = error;
  }
  bool Ok() const { return mOk; }
  const std::string& Error() const { return mError; }
  std::wstring Path() const { return mDir / L"installer.exe"; }

 private:
  TempDir mDir;
  bool mOk = false;
  std::string mError;
};

inline std::vector<Entry> ShippedEntries(const std::string& patchName = "ZAV.2.12.4526-2.12.4536.rtp") {
  return {{"patchw32.dll", std::string(4096, '\x5a')},
          {"patchnotes4536.rtf", ReadDataFile(L"patchnotes4536.rtf")},
          {patchName, std::string(20000, '\x33')}};
}

}  // namespace e2e
