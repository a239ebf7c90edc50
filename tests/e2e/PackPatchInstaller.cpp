// pack_patch_installer INSTALLER FOLDER: writes Tesserine.exe with the engine, the notes and a real patch
// from build 4526 to 4536 appended, for the signing fixture (which cannot build one itself), and each
// entry's bytes under its name into FOLDER, to check the signed installer against.
#include <cstdio>

#include "PatchClient.h"

int wmain(int argc, wchar_t** argv) {
  std::string patch, error;
  if (argc != 3 || !e2e::BuildPatch(&patch, &error)) {
    std::fprintf(stderr, "usage: pack_patch_installer INSTALLER FOLDER\n%s\n", error.c_str());
    return 1;
  }
  std::vector<embedfs::PackInput> inputs;
  ::CreateDirectoryW(argv[2], nullptr);
  for (const e2e::Entry& entry : e2e::PatchInstaller(patch)) {
    inputs.push_back({entry.name, e2e::Narrow(argv[2]) + "\\" + entry.name});
    std::ofstream(inputs.back().path, std::ios::binary) << entry.bytes;
  }
  if (!embedfs::Pack(e2e::Narrow(e2e::BinPath(L"Tesserine.exe")), inputs, {}, e2e::Narrow(argv[1]), &error)) {
    std::fprintf(stderr, "pack_patch_installer: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
