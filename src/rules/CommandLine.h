#pragma once

#include <string>

namespace rules {

// The value given for a key on the command line, or empty text.
//
// The key is matched case-sensitively anywhere (no word boundary), and exactly one character after it
// ("=", ":" or a blank) is skipped unseen. A value starting with a double quote runs to the next double
// quote and may hold blanks; without a closing quote it runs from after the opening quote to the next
// blank. Any other value runs to the next blank, searched from its second character, or to the end.
// A key at the very end, or one followed by a single character only, gives empty text; so does an empty
// key. Blanks are the space character only.
std::wstring GetCommandLineValue(const std::wstring& cmdLine, const std::wstring& key);

}  // namespace rules
