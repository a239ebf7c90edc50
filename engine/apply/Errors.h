#pragma once
// The texts the engine sends with callback id 3 (the numbers are the interface's). Every text starts
// "Error ept<number>: ", so a reader that looks for the first "ept" finds the number right behind it;
// the rest of the text must therefore be written after the number, never before it.
#include <cstdint>
#include <string>

#include "engine/fs/FileSystem.h"
#include "engine/EngineAbi.h"

namespace rtp {

// "file not found" for 15, and so on; "unknown error" for numbers the engine does not know.
const char* ErrorName(uint32_t number);

// The error of a file operation that failed with `status`: 15 not found, 19 held by another program,
// 5 out of memory, `otherwise` for anything else.
uint32_t ErrorNumberOf(FsStatus status, uint32_t otherwise);

// "Error ept15: file not found", and with a detail "Error ept15: file not found: bin\zav.exe".
std::string ErrorText(uint32_t number, const std::string& detail = std::string());

}  // namespace rtp
