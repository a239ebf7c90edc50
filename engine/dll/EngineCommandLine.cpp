#include "engine/dll/EngineCommandLine.h"

#include <cstring>
#include <vector>

namespace rtp {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

bool ParseEngineCommandLine(const char* text, EngineCommand* out) {
  *out = EngineCommand();
  if (!text) return false;
  const char* end = static_cast<const char*>(std::memchr(text, '\0', kMaxCommandLine + 1));
  if (!end) return false;
  std::vector<std::string> paths;
  const char* p = text;
  while (p < end) {
    if (IsBlank(*p)) {
      ++p;
      continue;
    }
    std::string path;
    if (*p == '"') {
      const char* close = static_cast<const char*>(std::memchr(p + 1, '"', static_cast<size_t>(end - p - 1)));
      const char* stop = close ? close : end;
      path.assign(p + 1, stop);
      p = close ? close + 1 : end;
      // The last path, unclosed, runs to the end of the text: blanks after it are no part of it.
      if (!close)
        while (!path.empty() && IsBlank(path.back())) path.pop_back();
    } else {
      const char* stop = p;
      while (stop < end && !IsBlank(*stop)) ++stop;
      path.assign(p, stop);
      p = stop;
    }
    if (path.empty()) return false;
    paths.push_back(path);
  }
  if (paths.size() != 2) return false;
  out->clientFolder = paths[0];
  out->patchPath = paths[1];
  return true;
}

}  // namespace rtp
