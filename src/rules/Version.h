#pragma once

#include <cstdint>
#include <string>

namespace rules {

// A client version as the patch file's name states it. Only the build is ever compared with the
// installed client; major and minor are for display.
struct Version {
  int32_t major = 0, minor = 0, build = 0;
};

// "%i.%i.%i", e.g. 2.12.4526.
inline std::wstring FormatVersion(const Version& v) {
  return std::to_wstring(v.major) + L"." + std::to_wstring(v.minor) + L"." + std::to_wstring(v.build);
}

}  // namespace rules
