#pragma once
// The user text and the outcome for an error the patch engine reports.
#include <cstdint>
#include <string>

#include "core/Ports.h"

namespace core {

// Turns the engine's 8-bit error text (ANSI code page) into the user text shown after the file name in
// the patch error message, and stores the outcome code for the failed page in `outcome` when it is given.
// The error number is read by EngineErrorNumber: 8 gives an English text, 9 the corrupt-patch text
// (a new patch is needed), 15 and 36 the missing-file and CRC texts (the client needs reinstalling);
// anything else, 0 included, the general text with the whole engine text inside it. A missing engine
// text counts as an empty one: the general text with nothing after "Error = ".
std::wstring EngineErrorText(const char* engineText, uint32_t* outcome, Texts& texts);

}  // namespace core
