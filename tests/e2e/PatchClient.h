#pragma once
// A small client at build 4526, what build 4536 makes of it, a real patch between the two made by the
// engine's builder, and the entries of an installer that carries it or the scripted test engine.
#include <engine/build/Builder.h>
#include <engine/fs/WinFileSystem.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "EngineScript.h"
#include "Scenario.h"

namespace e2e {

inline std::string ReadBinFile(const std::wstring& name) {
  std::ifstream in(Narrow(BinPath(name)), std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Build 4526 of a small client (in a folder `under` the given one), and what build 4536 makes of it.
inline void WriteOldClient(const TempDir& dir, const std::wstring& under = L"") {
  dir.WriteFile(under + L"common.ini", "[client]\r\nbuild=4526\r\n");
  dir.WriteFile(under + L"data\\maps.pak", std::string(30000, 'm') + "old map tail");
  dir.WriteFile(under + L"readme.txt", "old readme");
  dir.WriteFile(under + L"script\\compiled.code", "compiled");
}
inline void WriteNewClient(const TempDir& dir, size_t bigFileBytes = 0) {
  if (bigFileBytes) dir.WriteFile(L"data\\big.pak", std::string(bigFileBytes, '\0'));
  dir.WriteFile(L"common.ini", "[client]\r\nbuild=4536\r\n");
  dir.WriteFile(L"data\\maps.pak", std::string(30000, 'm') + "new map tail, longer than before");
  dir.WriteFile(L"data\\sky.pak", "a new file");
  dir.WriteFile(L"script\\compiled.code", "compiled");
}

// A patch from build 4526 to 4536 and, when asked, a big new file.
inline bool BuildPatch(std::string* patch, std::string* error, size_t bigFileBytes = 0) {
  TempDir oldDir, newDir;
  WriteOldClient(oldDir);
  WriteNewClient(newDir, bigFileBytes);
  rtp::WinFileSystem oldTree(oldDir.Path()), newTree(newDir.Path());
  rtp::Buffer bytes;
  if (!rtp::BuildPatch(oldTree, newTree, {}, &bytes, nullptr, error)) return false;
  patch->assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return true;
}

inline std::string MakePatch(size_t bigFileBytes = 0) {
  std::string patch, error;
  EXPECT_TRUE(BuildPatch(&patch, &error, bigFileBytes)) << error;
  return patch;
}

inline std::vector<Entry> PatchInstaller(const std::string& patch,
                                         const std::wstring& engine = L"patchw32.dll") {
  return {{"patchw32.dll", ReadBinFile(engine)},
          {"patchnotes4536.rtf", ReadDataFile(L"patchnotes4536.rtf")},
          {"ZAV.2.12.4526-2.12.4536.rtp", patch}};
}

// An installer whose engine is the scripted test engine, playing `script` ("delay-ms 100",
// "notify-error 36", ...; EngineScript.h) around the real patch's run.
inline std::vector<Entry> ScriptedInstaller(const std::string& script) {
  return PatchInstaller(enginetest::ScriptedPatch(script, MakePatch()), L"patchw32_scripted.dll");
}

// The client to patch: build 4526 with zav.exe.
class OldClient : public ClientFolder {
 public:
  OldClient() : ClientFolder("") { WriteOldClient(Dir()); }
  std::string File(const std::wstring& name) const { return Dir().ReadFile(name).value_or("<missing>"); }
};

}  // namespace e2e
