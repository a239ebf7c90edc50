#include "rules/PathRules.h"

#include <cstring>

#include "rules/Decimal.h"

namespace rules {

namespace {

const char kBuildKey[] = "build=";
// The value buffer holds 9 characters and its terminator.
const size_t kBuildValueChars = 9;

}  // namespace

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  const std::wstring joined = folder + L"\\" + name;
  std::wstring path;
  path.reserve(joined.size());
  for (size_t i = 0; i < joined.size(); ++i) {
    path += joined[i];
    if (joined[i] == L'\\' && i + 1 < joined.size() && joined[i + 1] == L'\\') ++i;
  }
  return path;
}

uint32_t ParseBuildValue(const char* bytes, size_t n) {
  if (!bytes) return 0;
  const char* zero = static_cast<const char*>(std::memchr(bytes, 0, n));
  const std::string text(bytes, zero ? static_cast<size_t>(zero - bytes) : n);

  const size_t key = text.find(kBuildKey);
  if (key == std::string::npos) return 0;
  const size_t start = key + sizeof(kBuildKey) - 1;
  const size_t lineFeed = text.find('\n', start);
  if (lineFeed == std::string::npos || lineFeed == start) return 0;
  // Lines end with a carriage return and a line feed; a bare line feed keeps the value's last byte.
  size_t length = lineFeed - start;
  if (text[lineFeed - 1] == '\r') --length;
  if (length > kBuildValueChars) length = kBuildValueChars;
  const std::string value = text.substr(start, length);

  // Nine characters cannot leave the int32 range; a negative value wraps as the conversion stores it.
  return static_cast<uint32_t>(ParseDecimal(value.data(), value.data() + value.size()));
}

}  // namespace rules
