// What the installer starts for the user: through the desktop's shell when it runs elevated (so the
// browser and the client get the user's normal rights), by itself otherwise or when no shell answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win/Elevation.h"
#include "win/UserShell.h"

namespace {

bool gElevated = false;
bool gShellAnswers = true;
std::vector<std::wstring> gAsked;

bool Elevated() {
  return gElevated;
}
bool Shell(const std::wstring& target, const std::wstring& folder) {
  gAsked.push_back(target + L" in " + folder);
  return gShellAnswers;
}

TEST(UserShell, OnlyAnElevatedInstallerGoesThroughTheDesktopShellWithTheProgramsFolder) {
  const struct {
    bool elevated, shellAnswers;
    std::wstring target;
    std::vector<std::wstring> asked;
  } cases[] = {
      {true, true, L"C:\\nowhere\\zav.exe", {L"C:\\nowhere\\zav.exe in C:\\nowhere"}},
      {true, true, L"https://update.example/a\\b", {L"https://update.example/a\\b in "}},
      {true, false, L"C:\\nowhere\\zav.exe", {L"C:\\nowhere\\zav.exe in C:\\nowhere"}},  // then by itself
      {false, true, L"C:\\nowhere\\zav.exe", {}},
  };
  const ElevationProbe previousProbe = SetElevationProbe(Elevated);
  const DesktopShellOpen previousShell = SetDesktopShellOpen(Shell);
  for (const auto& c : cases) {
    gElevated = c.elevated;
    gShellAnswers = c.shellAnswers;
    gAsked.clear();
    OpenAsUser(c.target);
    EXPECT_EQ(gAsked, c.asked);
  }
  SetDesktopShellOpen(previousShell);
  SetElevationProbe(previousProbe);
}

}  // namespace
