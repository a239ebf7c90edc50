#pragma once
// What makes a name one plain file name on Windows: the packer refuses other names and extraction never
// writes them, so no entry of an archive can reach outside the folder it is extracted to.
#include <algorithm>
#include <cstddef>
#include <string>
#include <type_traits>

namespace rules {

// Windows opens a device, not a file, for these names in any folder, whatever follows the first dot:
// CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9, in any case, blanks before the dot ignored.
template <class Text>
bool IsDeviceName(const Text& name) {
  using Unit = std::make_unsigned_t<typename Text::value_type>;
  size_t end = std::min(name.find('.'), name.size());
  while (end > 0 && name[end - 1] == ' ') --end;
  if (end != 3 && end != 4) return false;
  std::string base;
  for (size_t i = 0; i < end; ++i) {
    const Unit c = static_cast<Unit>(name[i]);
    base += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c < 0x80 ? static_cast<char>(c) : '?';
  }
  if (base == "con" || base == "prn" || base == "aux" || base == "nul") return true;
  return end == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) && base[3] >= '1' &&
         base[3] <= '9';
}

// Not empty, no "\" or "/" or ":", not "." or "..", no control character, no device name.
bool IsPlainFileName(const std::wstring& name);

}  // namespace rules
