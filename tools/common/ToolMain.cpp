#include "ToolMain.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>

#include "framework/Text.h"
#endif

namespace tool {

int Usage(const std::string& message, const char* help) {
  std::fprintf(stderr, "%s: %s\n\n%s", kName, message.c_str(), help);
  return kExitUsage;
}

int Failed(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kName, message.c_str());
  return kExitFailed;
}

bool IsHelp(const std::string& arg) {
  return arg == "--help" || arg == "-h";
}

}  // namespace tool

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    args.emplace_back();
    Narrow(argv[i], CP_UTF8, &args.back());
  }
  return tool::Main(args);
}
#else
int main(int argc, char** argv) {
  return tool::Main(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
