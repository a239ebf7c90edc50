#include "ToolMain.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>

#include "winbase/Text.h"
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

bool ParseNumber(const std::string& text, uint64_t* value) {
  if (text.empty()) return false;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty()) return false;
  uint64_t result = 0;
  for (char c : digits) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    const uint64_t base = hex ? 16 : 10;
    if (result > (UINT64_MAX - static_cast<uint64_t>(digit)) / base) return false;
    result = result * base + static_cast<uint64_t>(digit);
  }
  *value = result;
  return true;
}

bool IsHelp(const std::string& arg) {
  return arg == "--help" || arg == "-h";
}

bool TakeOperands(const std::vector<std::string>& args, const char* help, const std::string& prefix,
                  std::vector<std::string>* operands, int* exit) {
  for (const std::string& arg : args) {
    if (IsHelp(arg)) {
      std::fputs(help, stdout);
      *exit = kExitOk;
      return false;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      *exit = Usage(prefix + "unknown option " + arg, help);
      return false;
    }
    operands->push_back(arg);
  }
  return true;
}

int RunCommand(const std::vector<std::string>& args, const char* help,
               std::initializer_list<Command> commands) {
  if (args.empty()) return Usage("no command given", help);
  const std::string& name = args[0];
  if (IsHelp(name) || name == "help") {
    std::fputs(help, stdout);
    return kExitOk;
  }
  for (const Command& command : commands)
    if (name == command.name) return command.run(std::vector<std::string>(args.begin() + 1, args.end()));
  return Usage("unknown command \"" + name + "\"", help);
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
