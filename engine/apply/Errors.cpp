#include "engine/apply/Errors.h"

#include <cstdio>

namespace rtp {

const char* ErrorName(uint32_t number) {
  switch (number) {
    case kErrCommandLine:
      return "bad command line";
    case kErrNoMemory:
      return "out of memory";
    case kErrFormatVersion:
      return "incompatible patch file version";
    case kErrCorrupt:
      return "patch file is corrupt";
    case kErrPatchUnreadable:
      return "patch file cannot be read";
    case kErrFileNotFound:
      return "file not found";
    case kErrRead:
      return "file cannot be read";
    case kErrWrite:
      return "file cannot be written";
    case kErrReplace:
      return "file cannot be replaced";
    case kErrDiskSpace:
      return "not enough disk space";
    case kErrMismatch:
      return "file does not match (size or CRC-32)";
    case kErrAborted:
      return "stopped by the caller";
    default:
      return "unknown error";
  }
}

uint32_t ErrorNumberOf(FsStatus status, uint32_t otherwise) {
  switch (status) {
    case FsStatus::NotFound:
      return kErrFileNotFound;
    case FsStatus::Locked:
      return kErrRead;
    case FsStatus::NoMemory:
      return kErrNoMemory;
    default:
      return otherwise;
  }
}

std::string ErrorText(uint32_t number, const std::string& detail) {
  char head[64];
  std::snprintf(head, sizeof head, "Error ept%u: ", static_cast<unsigned>(number));
  std::string text = head;
  text += ErrorName(number);
  if (!detail.empty()) {
    text += ": ";
    text += detail;
  }
  return text;
}

}  // namespace rtp
