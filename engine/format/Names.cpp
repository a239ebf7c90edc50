// The client-file name rule on its own: the commit journal's reader (linked into the installer) needs it
// without the patch parsers.
#include <cstring>

#include "engine/format/PatchFormat.h"

namespace rtp {

bool IsValidName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  size_t partStart = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '\\') {
      const size_t length = i - partStart;
      if (length == 0) return false;
      const std::string part = name.substr(partStart, length);
      if (part == "." || part == "..") return false;
      // Windows drops a trailing blank or dot, so "a." and "a" would be one file.
      if (part.back() == ' ' || part.back() == '.') return false;
      partStart = i + 1;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c > 0x7E || std::strchr("<>:\"|?*/", c)) return false;
  }
  return true;
}

}  // namespace rtp
