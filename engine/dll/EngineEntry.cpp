#include "engine/dll/EngineEntry.h"

#include <windows.h>

#include <memory>
#include <string>

#include "engine/apply/Errors.h"
#include "engine/dll/EngineCommandLine.h"
#include "engine/format/FormatV2.h"
#include "engine/fs/WinFileSystem.h"

namespace rtp {

namespace {

// Opens the patch file to be read in pieces: 0, or the error number (10 when it cannot be opened).
uint32_t OpenPatch(const std::wstring& path, std::unique_ptr<Source>* out) {
  const FsStatus status = OpenFileForReading(path, FILE_SHARE_READ, out);
  if (status == FsStatus::Ok) return kOk;
  return status == FsStatus::NoMemory ? kErrNoMemory : kErrPatchUnreadable;
}

}  // namespace

uint32_t ApplyCommandLine(const char* commandLine, Listener& listener) {
  EngineCommand command;
  if (!ParseEngineCommandLine(commandLine, &command))
    return SendError(listener, kErrCommandLine, "expected \"FOLDER\" \"PATCH\"");
  std::unique_ptr<Source> patch;
  if (const uint32_t failed = OpenPatch(Widen(command.patchPath, CP_ACP), &patch))
    return SendError(listener, failed, command.patchPath);
  WinFileSystem client(Widen(command.clientFolder, CP_ACP));
  return ApplyPatch(*patch, client, listener);
}

uint32_t CostOfPatch(const wchar_t* patchPath, uint32_t* biggest, uint32_t* newSize, uint32_t* oldSize,
                     uint32_t* files) {
  if (!patchPath) return kErrCommandLine;
  std::unique_ptr<Source> file;
  if (const uint32_t failed = OpenPatch(patchPath, &file)) return failed;
  PatchCost cost;
  FormatError error;
  if (!ReadPatchCost(*file, &cost, &error)) return error.number;
  if (biggest) *biggest = cost.biggest;
  if (newSize) *newSize = cost.newSize;
  if (oldSize) *oldSize = cost.oldSize;
  if (files) *files = cost.files;
  return kOk;
}

}  // namespace rtp
