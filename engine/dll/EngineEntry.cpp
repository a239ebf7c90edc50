#include "engine/dll/EngineEntry.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "engine/apply/Callbacks.h"
#include "engine/apply/Errors.h"
#include "engine/dll/EngineCommandLine.h"
#include "engine/format/PatchFormat.h"
#include "engine/fs/WinFileSystem.h"

namespace rtp {

namespace {

// A text the engine made (with file names, which are UTF-8) in the ANSI code page; a character it lacks
// becomes '?'. ASCII, and 8-bit text that is no UTF-8, stay as they are.
std::string InAnsiCodePage(const char* text) {
  if (std::all_of(text, text + std::strlen(text),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; }) ||
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0) == 0)
    return text;
  const std::wstring wide = Widen(text, -1, CP_UTF8);
  const int length = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, nullptr);
  std::string out(static_cast<size_t>(length > 0 ? length : 0), '\0');
  if (length > 0)
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &out[0], length, nullptr,
                          nullptr);
  return out;
}

}  // namespace

uint32_t OpenPatchFile(const std::wstring& path, std::unique_ptr<Source>* out) {
  const FsStatus status = OpenFileForReading(path, FILE_SHARE_READ, out);
  if (status == FsStatus::Ok) return kOk;
  return status == FsStatus::NoMemory ? kErrNoMemory : kErrPatchUnreadable;
}

bool CallbackListener::Notify(uint32_t id, void* param) {
  const char* text = static_cast<const char*>(param);
  if (text == nullptr || ParamKindOf(id) != ParamKind::Text) return mCallback(id, param) != nullptr;
  std::string ansi = InAnsiCodePage(text);
  return mCallback(id, &ansi[0]) != nullptr;
}

uint32_t ApplyCommandLine(const char* commandLine, Listener& listener, const PatchRun& run) {
  EngineCommand command;
  if (!ParseEngineCommandLine(commandLine, &command))
    return SendError(listener, kErrCommandLine, "expected \"FOLDER\" \"PATCH\"");
  std::unique_ptr<Source> patch;
  if (const uint32_t failed = OpenPatchFile(Widen(command.patchPath, CP_ACP), &patch))
    return SendError(listener, failed, command.patchPath);
  WinFileSystem client(Widen(command.clientFolder, CP_ACP));
  return run(*patch, client, listener);
}

uint32_t ApplyCommandLine(const char* commandLine, Listener& listener) {
  return ApplyCommandLine(commandLine, listener, [](Source& patch, FileSystem& client, Listener& calls) {
    return ApplyPatch(patch, client, calls);
  });
}

uint32_t CostOfPatch(const wchar_t* patchPath, uint32_t* biggest, uint32_t* newSize, uint32_t* oldSize,
                     uint32_t* files) {
  if (!patchPath) return kErrCommandLine;
  std::unique_ptr<Source> file;
  if (const uint32_t failed = OpenPatchFile(patchPath, &file)) return failed;
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
