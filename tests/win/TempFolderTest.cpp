// The temporary folder: a fresh name no one can guess, and when elevated an access list that keeps
// every other program of the user out of it.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "win/TempFolder.h"
#include "win/Elevation.h"

namespace {

bool Elevated() {
  return true;
}

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text)) return L"?";
  std::wstring result = text;
  ::LocalFree(text);
  return result;
}

TEST(TempFolder, NamesAreSixteenRandomHexDigitsAndEachFolderIsNew) {
  CTempFolder temp;
  std::wstring first, second;
  ASSERT_TRUE(temp.MakeFolder(&first));
  ASSERT_TRUE(temp.MakeFolder(&second));
  EXPECT_NE(first, second);
  const std::wstring name = first.substr(first.rfind(L'\\', first.size() - 2) + 1);
  EXPECT_EQ(name.size(), 3u + 16u + 1u) << "\"tss\", 64 bits in hex, the backslash";
  EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef", 3), name.size() - 1);
  temp.RemoveFolder(first);
  temp.RemoveFolder(second);
}

// Wine keeps no access lists on its files (it maps them to Unix modes), so the list is read from the
// descriptor the folder is made with.
TEST(TempFolder, ElevatedTheFolderLetsOnlySystemAndAdministratorsChangeIt) {
  const ElevationProbe previous = SetElevationProbe(Elevated);
  CTempFolder temp;
  std::wstring folder;
  const bool made = temp.MakeFolder(&folder);
  SetElevationProbe(previous);
  ASSERT_TRUE(made);
  temp.RemoveFolder(folder);

  CLocalDescriptor descriptor;
  ASSERT_TRUE(AdministratorsOnly(&descriptor));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(descriptor.Get(), &control, &revision);
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing inherited from the temporary folder";
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted) && dacl);
  std::vector<std::pair<std::wstring, DWORD>> entries;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) << "files inside take it too";
    entries.emplace_back(SidText(&ace->SidStart), ace->Mask);
  }
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], std::make_pair(std::wstring(L"S-1-5-18"), DWORD{FILE_ALL_ACCESS})) << "SYSTEM";
  EXPECT_EQ(entries[1], std::make_pair(std::wstring(L"S-1-5-32-544"), DWORD{FILE_ALL_ACCESS}))
      << "Administrators";
  EXPECT_EQ(entries[2].first.rfind(L"S-1-5-21-", 0), 0u) << "the user";
  EXPECT_EQ(entries[2].second, DWORD{FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}) << "reads and runs only";
}

}  // namespace
