// The client-file name rules on their own: the commit journal's reader (linked into the installer) needs
// them without the patch parsers.
#include <cstring>

#include "engine/format/PatchFormat.h"

namespace rtp {

namespace {

// The length of the well-formed UTF-8 sequence for one character that starts at `at`, or 0: no overlong
// forms, no surrogates, nothing beyond U+10FFFF.
size_t Utf8Length(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
  const unsigned lead = byte(at);
  size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // the bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  return length;
}

}  // namespace

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
    if (c >= 0x80) {
      const size_t length = Utf8Length(name, i);
      if (length == 0) return false;
      i += length - 1;
      continue;
    }
    if (c < 0x20 || c == 0x7F || std::strchr("<>:\"|?*/", c)) return false;
  }
  return true;
}

std::string FoldName(const std::string& name) {
  std::string folded = name;
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

}  // namespace rtp
