#pragma once
// What the operator tools share: their exit codes, their usage and failure lines on stderr, the help
// switch, and the program entry, which hands a tool its arguments as UTF-8 on every system.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace tool {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The tool's name at the start of its messages; each tool defines it.
extern const char kName[];

// "NAME: MESSAGE", a blank line and the help text; returns kExitUsage.
int Usage(const std::string& message, const char* help);
// "NAME: MESSAGE"; returns kExitFailed.
int Failed(const std::string& message);
bool IsHelp(const std::string& arg);
// A number in decimal, or in hexadecimal after "0x"; false when the text is no such number below 2^64.
bool ParseNumber(const std::string& text, uint64_t* value);
// The operands of a command that takes no options. False when the command ends here: help was asked for
// (*exit is kExitOk) or an option was given (kExitUsage, the message starting with `prefix`).
bool TakeOperands(const std::vector<std::string>& args, const char* help, const std::string& prefix,
                  std::vector<std::string>* operands, int* exit);

// One of a tool's commands and what runs it, given the arguments after the command's name.
struct Command {
  const char* name;
  int (*run)(const std::vector<std::string>& args);
};
// Runs the command named by the first argument; help ("--help", "-h" or "help") prints `help`, and a
// missing or unknown command is a usage error.
int RunCommand(const std::vector<std::string>& args, const char* help,
               std::initializer_list<Command> commands);

// The tool itself, given the arguments after the program's name; each tool defines it.
int Main(const std::vector<std::string>& args);

}  // namespace tool
