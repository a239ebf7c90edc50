// A publisher's signed installer: its certificate table, over 8 KiB, ends the file and pushed the archive's
// trailer out of the last 8192 bytes. SignedInstaller.sh packs and signs it before this story runs.
#include "PatchClient.h"

using namespace e2e;

TEST(SignedInstaller, ShowsItsVersionsAndNotesExtractsAndPatchesTheClient) {
  constexpr int kVersions = 1017;
  constexpr int kNotesView = 0;
  OldClient client;
  StartOptions options;
  options.args = PathArg(client.Path());
  auto app = Installer::Start(FromHostPath(Env(L"TESSERINE_SIGNED_INSTALLER")), options);
  ASSERT_TRUE(app && app->WaitForDialog()) << "TESSERINE_SIGNED_INSTALLER names the signed installer";

  EXPECT_EQ(app->Text(kVersions), L"2.12.4526 -> 2.12.4536");
  EXPECT_NE(app->RichText(kNotesView).find(L"潮汐回廊"), std::wstring::npos);
  ASSERT_TRUE(app->Click(IDOK));
  ASSERT_TRUE(app->WaitForVisible(kLaunch)) << Utf8(app->Describe());
  const std::vector<std::wstring> rows = app->ListItems(kDetailsList);
  for (const wchar_t* row :
       {L"Extracting \"patchw32.dll\"...", L"Extracting \"zav.2.12.4526-2.12.4536.rtp\"..."}) {
    EXPECT_NE(std::find(rows.begin(), rows.end(), row), rows.end()) << Utf8(row);
  }
  EXPECT_EQ(client.File(L"common.ini"), "[client]\r\nbuild=4536\r\n");
  ASSERT_TRUE(app->Click(IDCANCEL));
  EXPECT_EQ(app->WaitForExit(), std::optional<DWORD>(2));
}
