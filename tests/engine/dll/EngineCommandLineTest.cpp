// The command line the installer builds for the engine: two paths, the second without its closing quote.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "engine/dll/EngineCommandLine.h"

namespace {

rtp::EngineCommand Parsed(const std::string& text) {
  rtp::EngineCommand command;
  EXPECT_TRUE(rtp::ParseEngineCommandLine(text.c_str(), &command)) << text;
  return command;
}

bool Refused(const std::string& text) {
  rtp::EngineCommand command;
  return !rtp::ParseEngineCommandLine(text.c_str(), &command);
}

TEST(EngineCommandLine, TheInstallersFormWithoutTheClosingQuoteGivesFolderAndPatch) {
  const rtp::EngineCommand command =
      Parsed("\"C:\\Games\\ZAV\" \"C:\\Temp\\s1.1\\zav.2.12.4526-2.12.4536.rtp");
  EXPECT_EQ(command.clientFolder, "C:\\Games\\ZAV");
  EXPECT_EQ(command.patchPath, "C:\\Temp\\s1.1\\zav.2.12.4526-2.12.4536.rtp");
}

TEST(EngineCommandLine, BlanksInsideQuotesBelongToThePath) {
  const rtp::EngineCommand command =
      Parsed("\"c:\\program files\\norrat\\zav\" \"C:\\Documents and Settings\\x\\Temp\\s1.1\\zav.rtp");
  EXPECT_EQ(command.clientFolder, "c:\\program files\\norrat\\zav");
  EXPECT_EQ(command.patchPath, "C:\\Documents and Settings\\x\\Temp\\s1.1\\zav.rtp");
}

TEST(EngineCommandLine, AClosingQuoteTrailingBlanksAndUnquotedPathsAreAcceptedToo) {
  EXPECT_EQ(Parsed("\"C:\\a\" \"C:\\b.rtp\"").patchPath, "C:\\b.rtp");
  EXPECT_EQ(Parsed("\"C:\\a\" \"C:\\b c.rtp  \r\n").patchPath, "C:\\b c.rtp");
  const rtp::EngineCommand unquoted = Parsed("  C:\\a\t C:\\b.rtp ");
  EXPECT_EQ(unquoted.clientFolder, "C:\\a");
  EXPECT_EQ(unquoted.patchPath, "C:\\b.rtp");
  EXPECT_EQ(Parsed("\"C:\\a\\\" \"C:\\b.rtp").clientFolder, "C:\\a\\");
}

TEST(EngineCommandLine, EightBitPathsPassByteForByte) {
  // A folder named in code page 936: its bytes pass untouched.
  const std::string folder = "D:\\\xBF\xCD\xBB\xA7\xB6\xCB";
  EXPECT_EQ(Parsed("\"" + folder + "\" \"C:\\t\\p.rtp").clientFolder, folder);
}

TEST(EngineCommandLine, AnythingButTwoPathsIsRefused) {
  EXPECT_TRUE(Refused(""));
  EXPECT_TRUE(Refused("   "));
  EXPECT_TRUE(Refused("\"C:\\only one"));
  EXPECT_TRUE(Refused("\"C:\\a\" \"C:\\b\" \"C:\\c"));
  EXPECT_TRUE(Refused("\"\" \"C:\\b.rtp"));
  EXPECT_TRUE(Refused("\"C:\\a\" \""));
  rtp::EngineCommand command;
  EXPECT_FALSE(rtp::ParseEngineCommandLine(nullptr, &command));
}

TEST(EngineCommandLine, ATextWithoutItsZeroByteIsRefusedWithoutReadingPastTheLimit) {
  // Exactly as long as the scan may read, and no terminator: the sanitizer sees any read beyond.
  const size_t length = rtp::kMaxCommandLine + 1;
  std::unique_ptr<char[]> unterminated(new char[length]);
  std::memset(unterminated.get(), 'a', length);
  rtp::EngineCommand command;
  EXPECT_FALSE(rtp::ParseEngineCommandLine(unterminated.get(), &command));
}

}  // namespace
