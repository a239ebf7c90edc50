// The start sequence as a user meets it: the installer is told (or asks for) the client folder, reads the
// installed build and either stops on a result page or goes on to extraction.
#include "Scenario.h"

using namespace e2e;

namespace {

// Presses start and returns the message box that follows.
std::optional<MessageBoxInfo> StartAndExpectBox(Installer& app) {
  EXPECT_TRUE(app.Click(IDOK));
  auto box = app.WaitForMessageBox();
  if (!box) ADD_FAILURE() << "no message box\n" << Utf8(app.Describe());
  return box;
}

void EndWith(Installer& app, int button, DWORD exitCode) {
  ASSERT_TRUE(app.WaitForVisible(button));
  ASSERT_TRUE(app.Click(button));
  EXPECT_EQ(app.WaitForExit(), std::optional<DWORD>(exitCode));
}

}  // namespace

TEST(StartSequence, WrongInstalledBuildFailsWithANewPatchLinkThatReportsTheBuilds) {
  ClientFolder client("[client]\r\nbuild=4500\r\n");
  Story story;
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  auto box = StartAndExpectBox(*app);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, L"发生一个错误");
  EXPECT_EQ(box->text, L"安装的客户端版本(4500)不能用这个补丁进行更新(4526)。");
  EXPECT_EQ(box->icon, BoxIcon::Error);
  ASSERT_TRUE(app->Answer(*box, IDOK));

  ASSERT_TRUE(app->WaitForVisible(kGetPatch));
  EXPECT_FALSE(app->Visible(kGetClient));
  EXPECT_FALSE(app->Visible(kSupport));
  EXPECT_EQ(app->Text(IDCANCEL), L"结束");
  EndWith(*app, kGetPatch, 0);
  EXPECT_NE(story.WaitForRecord().find(
                "?action=patcherror&do=3&n=4500&from=4526&to=4536&err=Wrong Version. Need 4526\""),
            std::string::npos)
      << story.Record();
}

TEST(StartSequence, ClientAlreadyCurrentEndsOnTheFinishedPageAndLaunchesIt) {
  ClientFolder client("[client]\r\nbuild=4536\r\n");
  Story story;
  // Forward slashes are taken as backslashes; the trailing one is dropped from the client folder.
  std::wstring slashed = client.Path() + L"/";
  for (wchar_t& c : slashed) c = c == L'\\' ? L'/' : c;
  auto app = story.Start(PathArg(slashed));
  ASSERT_TRUE(app);
  auto box = StartAndExpectBox(*app);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, L"《澜星纪》更新");
  EXPECT_EQ(box->text, L"您的ZAV客户端版本和补丁的版本相同(4536)。");
  EXPECT_EQ(box->icon, BoxIcon::Information);
  ASSERT_TRUE(app->Answer(*box, IDOK));

  ASSERT_TRUE(app->WaitForVisible(kLaunch));
  EXPECT_EQ(app->Text(IDCANCEL), L"结束");
  EndWith(*app, kLaunch, 0);
  EXPECT_NE(story.WaitForRecord().find(Utf8(client.Path() + L"\\zav.exe")), std::string::npos)
      << story.Record();
}

TEST(StartSequence, NoBuildInEitherFileIsAWrongVersionOfZero) {
  ClientFolder client("");
  client.Dir().WriteFile(L"boot.ini", "[boot]\r\nversion=1\r\n");
  Story story;
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  auto box = StartAndExpectBox(*app);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, L"安装的客户端版本(0)不能用这个补丁进行更新(4526)。");
  ASSERT_TRUE(app->Answer(*box, IDOK));
  EndWith(*app, kGetPatch, 0);
  EXPECT_NE(story.WaitForRecord().find("do=3&n=0&from=4526&to=4536"), std::string::npos) << story.Record();
}

TEST(StartSequence, BuildFromBootIniWhenCommonIniHasNone) {
  ClientFolder client("[client]\r\nname=zav\r\n");
  client.Dir().WriteFile(L"boot.ini", "[boot]\r\nbuild=4536\r\n");
  Story story;
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  auto box = StartAndExpectBox(*app);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, L"您的ZAV客户端版本和补丁的版本相同(4536)。");
}

TEST(StartSequence, CancellingTheFolderDialogWithNoFolderMeansNoClient) {
  TempDir empty;
  Story story;
  auto app = story.Start(PathArg(empty.Path()));
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));
  auto folderDialog = app->WaitForOtherDialog();
  ASSERT_TRUE(folderDialog) << Utf8(app->Describe());
  EXPECT_EQ(folderDialog->Text(kFolderEdit), L"") << "the dialog starts empty, not with the bad folder";
  ASSERT_TRUE(folderDialog->Click(IDCANCEL));

  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, L"在您的计算机中未找到ZAV的客户端。您需要先安装ZAV的客户端然后进行更新。");
  EXPECT_EQ(box->icon, BoxIcon::Error);
  ASSERT_TRUE(app->Answer(*box, IDOK));
  EndWith(*app, kGetClient, 0);
  EXPECT_NE(story.WaitForRecord().find("do=1&n=0&from=4526&to=4536&err=Client Not Installed\""),
            std::string::npos)
      << story.Record();
}

TEST(StartSequence, AFolderWithoutTheClientIsRefusedUntilTheUserNamesOne) {
  TempDir notClient;
  ClientFolder client("[client]\r\nbuild=4536\r\n");
  client.Dir().MakeDir(L"bin");
  Story story;
  auto app = story.Start();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));

  auto folderDialog = app->WaitForOtherDialog();
  ASSERT_TRUE(folderDialog);
  ASSERT_TRUE(folderDialog->SetText(kFolderEdit, notClient.Path()));
  ASSERT_TRUE(folderDialog->Click(IDOK));
  auto refused = app->WaitForMessageBox();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->text, L"在您指定的目录里未找到ZAV客户端，请重新选择。");
  ASSERT_TRUE(app->Answer(*refused, IDOK));

  folderDialog = app->WaitForOtherDialog();
  ASSERT_TRUE(folderDialog);
  EXPECT_EQ(folderDialog->Text(kFolderEdit), notClient.Path())
      << "the dialog comes back with the refused folder";
  ASSERT_TRUE(folderDialog->SetText(kFolderEdit, client.Path() + L"\\"));
  ASSERT_TRUE(folderDialog->Click(IDOK));

  // A folder chosen in the dialog needs no confirmation: the version check follows at once.
  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, L"您的ZAV客户端版本和补丁的版本相同(4536)。");
}

TEST(StartSequence, TestPatchWarnsAboutTheGivenFolderAndCancelStopsWithoutAnOffer) {
  ClientFolder client;
  Story story(ShippedEntries("zav.2.12.4526-2.12.4536_test.rtp"));
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  auto box = StartAndExpectBox(*app);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, L"《澜星纪》更新");
  EXPECT_NE(box->text.find(L"这个补丁将会覆盖您安装在 " + client.Path() + L" 目录下的ZAV客户端。"),
            std::wstring::npos)
      << Utf8(box->text);
  EXPECT_EQ(box->buttons, (std::vector<int>{IDYES, IDNO, IDCANCEL}));
  EXPECT_EQ(box->icon, BoxIcon::Warning);
  ASSERT_TRUE(app->Answer(*box, IDCANCEL));

  ASSERT_TRUE(app->WaitForText(IDCANCEL, L"结束"));
  ExpectNoOffer(*app);
  ASSERT_TRUE(app->Click(IDCANCEL));
  EXPECT_EQ(app->WaitForExit(), std::optional<DWORD>(2));
}

TEST(StartSequence, TestPatchWithoutAFolderAsksForTheTestClientsFolder) {
  ClientFolder client;
  Story story(ShippedEntries("zav.2.12.4526-2.12.4536_test.rtp"));
  auto app = story.Start();
  ASSERT_TRUE(app);
  auto box = StartAndExpectBox(*app);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text.substr(0, 21), L"这不是一个正式的补丁，只是用作测试用途。\n");
  EXPECT_NE(box->text.find(L"请定位您测试客户端的安装路径"), std::wstring::npos);
  EXPECT_EQ(box->buttons, std::vector<int>{IDOK});
  ASSERT_TRUE(app->Answer(*box, IDOK));
  auto folderDialog = app->WaitForOtherDialog();
  ASSERT_TRUE(folderDialog) << "a test patch never goes to a folder the user did not name";
  ASSERT_TRUE(folderDialog->Click(IDCANCEL));
  auto noClient = app->WaitForMessageBox();
  ASSERT_TRUE(noClient);
  EXPECT_EQ(noClient->text, L"在您的计算机中未找到ZAV的客户端。您需要先安装ZAV的客户端然后进行更新。");
}

TEST(StartSequence, UnreadablePatchVersionsOfferANewPatch) {
  ClientFolder client;
  Story story(ShippedEntries("zav.2.12.4526_2.12.4536.rtp"));
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  auto box = StartAndExpectBox(*app);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, L"无法获取补丁的版本信息。\n补丁可能已经损坏。");
  ASSERT_TRUE(app->Answer(*box, IDOK));
  EndWith(*app, kGetPatch, 0);
  EXPECT_NE(story.WaitForRecord().find("do=3&n=0&from=0&to=0&err=无法获取补丁的版本信息。"),
            std::string::npos)
      << story.Record();
}

TEST(StartSequence, ArchiveWithoutThePatchFileOffersSupport) {
  Story story(std::vector<Entry>{{"readme.txt", "hello"}});
  auto app = story.Start();
  ASSERT_TRUE(app);
  auto box = StartAndExpectBox(*app);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, L"缺少文件。");
  ASSERT_TRUE(app->Answer(*box, IDOK));
  EndWith(*app, kSupport, 0);
  EXPECT_NE(story.WaitForRecord().find("do=4&n=0&from=0&to=0&err=缺少文件。"), std::string::npos)
      << story.Record();
}

namespace {

// The path inside a details row such as File "C:\...\patchw32.dll" extracted.
std::wstring QuotedPath(const std::wstring& row) {
  size_t open = row.find(L'"');
  size_t close = row.rfind(L'"');
  return open == std::wstring::npos || close <= open ? std::wstring()
                                                     : row.substr(open + 1, close - open - 1);
}

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

TEST(Extraction, MatchingBuildExtractsBothFilesAndClosingDeletesThem) {
  ClientFolder client;  // build 4526, the patch's from-build
  Story story;          // the engine entry is not a loadable library
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->PressEnter());

  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box) << Utf8(app->Describe());
  EXPECT_EQ(box->caption, L"发生一个错误");
  EXPECT_EQ(box->text, L"无法加载需要的文件:patchw32.dll");
  // Still the installing page behind the box, with the extraction's report in the details list.
  EXPECT_FALSE(app->Visible(IDOK));
  EXPECT_TRUE(app->Visible(kDetails));
  EXPECT_EQ(app->ProgressPos(kTotalProgress), 100);
  EXPECT_EQ(app->ProgressPos(kFileProgress), 100);
  std::vector<std::wstring> rows = app->ListItems(kDetailsList);
  ASSERT_EQ(rows.size(), 4u) << Utf8(app->Describe());
  EXPECT_EQ(rows[0], L"Extracting \"patchw32.dll\"...");
  EXPECT_EQ(rows[2], L"Extracting \"zav.2.12.4526-2.12.4536.rtp\"...");
  std::wstring engine = QuotedPath(rows[1]);
  std::wstring patch = QuotedPath(rows[3]);
  EXPECT_EQ(rows[3], L"File \"" + patch + L"\" extracted.");
  EXPECT_NE(engine.find(L"\\patchw32.dll"), std::wstring::npos) << Utf8(engine);
  EXPECT_NE(patch.find(L"\\zav.2.12.4526-2.12.4536.rtp"), std::wstring::npos) << "lower-cased entry name";
  std::wstring folder = engine.substr(0, engine.rfind(L'\\') + 1);
  EXPECT_EQ(patch.substr(0, folder.size()), folder) << "both files in one folder";
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(::GetFileAttributesExW(engine.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 4096u);
  ASSERT_TRUE(::GetFileAttributesExW(patch.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 20000u);
  EXPECT_EQ(FilesIn(folder.substr(0, folder.size() - 1)), 2) << "the notes are not extracted";

  ASSERT_TRUE(app->Answer(*box, IDOK));
  ASSERT_TRUE(app->WaitForVisible(kSupport)) << "outcome 4 offers support";
  ASSERT_TRUE(app->Click(IDCANCEL));
  EXPECT_EQ(app->WaitForExit(), std::optional<DWORD>(2));
  EXPECT_FALSE(Exists(engine));
  EXPECT_FALSE(Exists(patch));
  EXPECT_FALSE(Exists(folder)) << "the emptied folder goes too";
}

TEST(Extraction, ArchiveWithoutTheEngineWritesAnEmptyLibraryThatFailsToLoad) {
  ClientFolder client;
  std::vector<Entry> entries = ShippedEntries();
  entries.erase(entries.begin());
  Story story(entries);
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));
  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, L"无法加载需要的文件:patchw32.dll");
  std::vector<std::wstring> rows = app->ListItems(kDetailsList);
  ASSERT_GE(rows.size(), 2u);
  std::wstring engine = QuotedPath(rows[1]);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(::GetFileAttributesExW(engine.c_str(), GetFileExInfoStandard, &data)) << Utf8(rows[1]);
  EXPECT_EQ(data.nFileSizeLow, 0u);
  ASSERT_TRUE(app->Answer(*box, IDOK));
  EndWith(*app, kSupport, 0);
  EXPECT_NE(story.WaitForRecord().find("do=4&n=4526&from=4526&to=4536&err=无法加载需要的文件:patchw32.dll"),
            std::string::npos)
      << story.Record();
}

TEST(StartSequence, RunningClientThatWillNotCloseOffersRetryThenRunsTheWholeSequenceAgain) {
  ClientFolder client("[client]\r\nbuild=4536\r\n");
  Story story;
  // A client that ignores the first four close requests: three on the first press, one on the retry.
  auto running = Installer::Start(BinPath(L"fake_client.exe"), L"4");
  ASSERT_TRUE(running);
  ASSERT_TRUE(running->WaitUntil([] { return ::FindWindowW(L"kreluiScreen", nullptr) != nullptr; }));

  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  auto box = StartAndExpectBox(*app);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, L"《澜星纪》更新");
  EXPECT_EQ(box->buttons, (std::vector<int>{IDRETRY, IDCANCEL}));
  EXPECT_EQ(box->text.rfind(L"ZAV客户端还在运行中,无法进行更新。", 0), 0u);
  ASSERT_TRUE(app->Answer(*box, IDRETRY));

  // The retry closes the client at its next request and goes on to the version check.
  auto same = app->WaitForMessageBox();
  ASSERT_TRUE(same) << Utf8(app->Describe());
  EXPECT_EQ(same->text, L"您的ZAV客户端版本和补丁的版本相同(4536)。");
  ASSERT_TRUE(app->Answer(*same, IDOK));
  EXPECT_TRUE(app->WaitForVisible(kLaunch));
  EXPECT_EQ(running->WaitForExit(), std::optional<DWORD>(0)) << "the client closed on request";
}

TEST(StartSequence, RunningClientAndCancelEndsOnTheRestartAdvice) {
  ClientFolder client;
  Story story;
  auto running = Installer::Start(BinPath(L"fake_client.exe"), L"100");
  ASSERT_TRUE(running);
  ASSERT_TRUE(running->WaitUntil([] { return ::FindWindowW(L"kreluiScreen", nullptr) != nullptr; }));
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  auto box = StartAndExpectBox(*app);
  ASSERT_TRUE(box);
  ASSERT_TRUE(app->Answer(*box, IDCANCEL));
  ASSERT_TRUE(app->WaitForText(IDCANCEL, L"结束"));
  ExpectNoOffer(*app);
  running->Terminate();
}

namespace {

// A client in the default folder for the length of a test. Every test of this program holds the same
// CTest resource lock, so none of them runs beside it and meets the folder unexpectedly.
class DefaultFolderClient {
 public:
  DefaultFolderClient() {
    for (const wchar_t* folder : {L"c:\\program files\\norrat", L"c:\\program files\\norrat\\zav"}) {
      ::CreateDirectoryW(folder, nullptr);
    }
    ::CopyFileW(BinPath(L"recorder.exe").c_str(), L"c:\\program files\\norrat\\zav\\zav.exe", FALSE);
    std::ofstream ini("c:\\program files\\norrat\\zav\\common.ini", std::ios::binary);
    ini << "[client]\r\nbuild=4536\r\n";
  }
  ~DefaultFolderClient() { RemoveTree(L"c:\\program files\\norrat"); }
};

}  // namespace

TEST(StartSequence, ClientInTheDefaultFolderIsConfirmedFirst) {
  DefaultFolderClient installed;
  Story story;
  auto app = story.Start();
  ASSERT_TRUE(app);
  auto box = StartAndExpectBox(*app);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, L"《澜星纪》更新");
  EXPECT_EQ(box->text, L"升级向导");
  EXPECT_EQ(box->buttons, (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(box->icon, BoxIcon::Information);
  ASSERT_TRUE(app->Answer(*box, IDYES));
  auto same = app->WaitForMessageBox();
  ASSERT_TRUE(same);
  EXPECT_EQ(same->text, L"您的ZAV客户端版本和补丁的版本相同(4536)。");
}

TEST(StartSequence, DecliningTheDefaultFolderAndCancellingTheDialogCancelsTheInstall) {
  DefaultFolderClient installed;
  Story story;
  auto app = story.Start();
  ASSERT_TRUE(app);
  auto box = StartAndExpectBox(*app);
  ASSERT_TRUE(box);
  ASSERT_TRUE(app->Answer(*box, IDNO));
  auto folderDialog = app->WaitForOtherDialog();
  ASSERT_TRUE(folderDialog);
  EXPECT_EQ(folderDialog->Text(kFolderEdit), L"c:\\program files\\norrat\\zav\\")
      << "the dialog starts on it";
  ASSERT_TRUE(folderDialog->Click(IDCANCEL));
  ASSERT_TRUE(app->WaitForText(IDCANCEL, L"结束"));
  ExpectNoOffer(*app);
  ASSERT_TRUE(app->Click(IDCANCEL));
  EXPECT_EQ(app->WaitForExit(), std::optional<DWORD>(2));
}

TEST(Extraction, NoTemporaryFolderFailsOnceAfterBothEntriesWithTheRestartAdvice) {
  ClientFolder client;
  Story story;
  TempDir scratch;
  // The user's temporary folder is a file: no folder can be made under it.
  scratch.WriteFile(L"not-a-folder", "x");
  StartOptions options;
  options.args = PathArg(client.Path());
  options.env = {{L"TMP", scratch / L"not-a-folder"}, {L"TEMP", scratch / L"not-a-folder"}};
  PackedInstaller installer(ShippedEntries());
  ASSERT_TRUE(installer.Ok());
  auto app = Installer::Start(installer.Path(), options);
  ASSERT_TRUE(app && app->WaitForDialog());
  ASSERT_TRUE(app->Click(IDOK));

  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box) << Utf8(app->Describe());
  EXPECT_EQ(box->caption, L"发生一个错误");
  EXPECT_EQ(box->text.rfind(L"无法解压补丁文件，可能是因为您的磁盘已满或者没有足够的权限。", 0), 0u)
      << Utf8(box->text);
  std::vector<std::wstring> rows = app->ListItems(kDetailsList);
  ASSERT_EQ(rows.size(), 4u) << "both entries are tried before the one message";
  EXPECT_EQ(rows[1].rfind(L"Error extracting ", 0), 0u) << Utf8(rows[1]);
  EXPECT_EQ(rows[3].rfind(L"Error extracting ", 0), 0u) << Utf8(rows[3]);
  ASSERT_TRUE(app->Answer(*box, IDOK));

  ExpectBareFailedPageThenEnd(*app);
}

TEST(Extraction, ClosingWhileExtractingStopsTheThreadAndLeavesNoFiles) {
  ClientFolder client;
  std::vector<Entry> entries = ShippedEntries();
  entries[2].bytes.assign(64u << 20, '\x5a');  // a patch large enough to be still copying
  PackedInstaller installer(entries);
  ASSERT_TRUE(installer.Ok()) << installer.Error();
  TempDir temp;
  StartOptions options;
  options.args = PathArg(client.Path());
  options.env = {{L"TMP", temp.Path()}, {L"TEMP", temp.Path()}};
  auto app = Installer::Start(installer.Path(), options);
  ASSERT_TRUE(app && app->WaitForDialog());
  ASSERT_TRUE(app->Click(IDOK));
  ASSERT_TRUE(app->WaitUntil([&] { return app->ListCount(kDetailsList) >= 3; }))
      << "the patch is being copied";
  ASSERT_TRUE(app->Click(IDCANCEL));
  EXPECT_EQ(app->WaitForExit(), std::optional<DWORD>(2));
  EXPECT_EQ(FilesIn(temp.Path()), 0);
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW((temp.Path() + L"\\tss*").c_str(), &found);
  EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "the extraction folder is gone: " << Utf8(found.cFileName);
  if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
}
