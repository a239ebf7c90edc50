// Whole runs of a packed installer with the patch engine: a real patch made from two client folders is
// applied to a client folder, and every way a run can end is met as the user meets it.
#include "PatchClient.h"

using namespace e2e;

namespace {

FILETIME WriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

void SaveScreenshot(const Installer& app, const wchar_t* name) {
  std::wstring shots = Env(L"TESSERINE_SCREENSHOT_DIR");
  if (!shots.empty()) {
    EXPECT_TRUE(app.Screenshot(FromHostPath(shots) + L"\\" + name));
  }
}

}  // namespace

TEST(PatchRun, PatchesTheClientEndsOnTheFinishedPageAndLaunchesIt) {
  OldClient client;
  FILETIME before = WriteTime(client.Dir() / L"script\\compiled.code");
  Story story(ScriptedInstaller("delay-ms 300"));
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->PressEnter());

  // While the engine works: its file on the upper line, the phase on the lower one.
  ASSERT_TRUE(app->WaitUntil([&] { return app->Text(kFileStatus).rfind(L"[", 0) == 0; }))
      << Utf8(app->Describe());
  EXPECT_EQ(app->Text(kPhaseStatus), L"正在安装补丁…");
  EXPECT_NE(app->Text(kFileStatus).find(L"正在处理文件"), std::wstring::npos);
  SaveScreenshot(*app, L"installing.bmp");

  ASSERT_TRUE(app->WaitForVisible(kLaunch)) << Utf8(app->Describe());
  EXPECT_EQ(app->Text(IDCANCEL), L"结束");
  EXPECT_EQ(app->ProgressPos(kTotalProgress), 100);
  EXPECT_EQ(client.File(L"data\\maps.pak"), std::string(30000, 'm') + "new map tail, longer than before");
  EXPECT_EQ(client.File(L"data\\sky.pak"), "a new file");
  EXPECT_EQ(client.File(L"readme.txt"), "<missing>");
  EXPECT_EQ(client.File(L"common.ini"), "[client]\r\nbuild=4536\r\n");
  FILETIME after = WriteTime(client.Dir() / L"script\\compiled.code");
  EXPECT_GT(::CompareFileTime(&after, &before), 0) << "script\\compiled.code carries the time of the run";
  SaveScreenshot(*app, L"finished.bmp");

  ASSERT_TRUE(app->Click(kLaunch));
  EXPECT_EQ(app->WaitForExit(), std::optional<DWORD>(0));
  EXPECT_NE(story.WaitForRecord().find(Utf8(client.Path() + L"\\zav.exe")), std::string::npos)
      << story.Record();
}

TEST(PatchRun, CancelWhileTheEngineRunsStopsItOnTheCancelledPage) {
  OldClient client;
  Story story(ScriptedInstaller("delay-ms 1500"));
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));
  ASSERT_TRUE(app->WaitUntil([&] { return app->Text(kFileStatus).rfind(L"[", 0) == 0; }));

  ASSERT_TRUE(app->Click(IDCANCEL));
  ASSERT_TRUE(app->WaitForText(IDCANCEL, L"结束")) << "Cancel during the run does not close the window";
  EXPECT_TRUE(app->Running());
  ExpectNoOffer(*app);

  // While the engine winds down, End only repeats the cancel; once it has returned, End closes.
  std::optional<DWORD> exitCode;
  for (int press = 0; press < 20 && !exitCode; ++press) {
    if (!app->Click(IDCANCEL)) break;
    app->WaitUntil([&] { return !app->Running(); }, 250);
    exitCode = app->ExitCode();
  }
  EXPECT_EQ(exitCode, std::optional<DWORD>(2));
  // The engine put every old file back and took everything of its own away.
  EXPECT_EQ(client.File(L"data\\maps.pak"), std::string(30000, 'm') + "old map tail");
  EXPECT_EQ(client.File(L"common.ini"), "[client]\r\nbuild=4526\r\n");
  EXPECT_EQ(client.File(L"readme.txt"), "old readme");
  EXPECT_EQ(client.File(L"data\\sky.pak"), "<missing>");
  EXPECT_EQ(client.File(L"tesserine.~tpstage") + client.File(L"data\\maps.pak.~tpnew"), "<missing><missing>");
}

TEST(PatchRun, EngineErrorShowsTheFileAndOffersTheFullClient) {
  OldClient client;
  Story story(ScriptedInstaller("at after:data\\maps.pak\nnotify-error 36"));
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));
  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box) << Utf8(app->Describe());
  EXPECT_EQ(box->caption, L"发生一个错误");
  EXPECT_EQ(box->text.rfind(L"补丁文件安装错误: data\\maps.pak. 指定的文件CRC校验值错误。", 0), 0u)
      << Utf8(box->text);
  ASSERT_TRUE(app->Answer(*box, IDOK));
  ASSERT_TRUE(app->WaitForVisible(kGetClient));
  ASSERT_TRUE(app->Click(kGetClient));
  EXPECT_EQ(app->WaitForExit(), std::optional<DWORD>(0));
  EXPECT_NE(story.WaitForRecord().find("do=1&n=4526&from=4526&to=4536&err=Error ept36"), std::string::npos)
      << story.Record();
}

TEST(PatchRun, WarningsAreShownAndTheRunGoesOn) {
  OldClient client;
  Story story(ScriptedInstaller("notify-warning data\\maps.pak is read-only"));
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));
  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, L"Warning: data\\maps.pak is read-only");
  EXPECT_EQ(box->caption, box->text);
  ASSERT_TRUE(app->Answer(*box, IDOK));
  ASSERT_TRUE(app->WaitForVisible(kLaunch));
  std::vector<std::wstring> rows = app->ListItems(kDetailsList);
  EXPECT_NE(std::find(rows.begin(), rows.end(), L"Warning: data\\maps.pak is read-only"), rows.end());
}

TEST(PatchRun, LockedFilesOfferARestartThatNoKeepsThePage) {
  OldClient client;
  Story story(ScriptedInstaller("at end\nnotify-locked 26"));
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));
  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, L"《澜星纪》更新");
  EXPECT_EQ(box->buttons, (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(box->text.rfind(L"安装已经结束但是有部分文件被锁定。", 0), 0u);
  // Never Yes here: a restart request would end every program of the test prefix.
  ASSERT_TRUE(app->Answer(*box, IDNO));
  EXPECT_TRUE(app->Visible(kLaunch));
  EXPECT_TRUE(app->Running());
}

TEST(PatchRun, EngineWithoutItsApplyEntryLeavesTheInstallingPage) {
  OldClient client;
  Story story(PatchInstaller(MakePatch(), L"patchw32_noapply.dll"));
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));
  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, L"");
  EXPECT_EQ(box->text, L"Very weird error! Error binding to dll, 127");
  EXPECT_EQ(box->icon, BoxIcon::Error);
  ASSERT_TRUE(app->Answer(*box, IDOK));
  EXPECT_TRUE(app->Visible(kDetails)) << "still the installing page";
  EXPECT_EQ(app->Text(IDCANCEL), L"取消");
  EXPECT_EQ(client.File(L"readme.txt"), "old readme");
  ASSERT_TRUE(app->Click(IDCANCEL));
  EXPECT_EQ(app->WaitForExit(), std::optional<DWORD>(2));
}

TEST(PatchRun, EngineWithoutACostEntryAppliesWithoutADiskCheck) {
  OldClient client;
  Story story(PatchInstaller(MakePatch(), L"patchw32_nocost.dll"));
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));
  ASSERT_TRUE(app->WaitForVisible(kLaunch)) << Utf8(app->Describe());
  EXPECT_EQ(client.File(L"data\\sky.pak"), "a new file");
}

// The installer's check of the engine's cost, and the engine's own check for a library without the cost
// entry (as for a need of 4 GiB and more, which the cost cannot carry): the same message, nothing written.
TEST(PatchRun, TooLittleDiskSpaceStopsBeforeAnyClientFileIsWritten) {
  // Drive S: is the harness's 32 MB disk.
  ULARGE_INTEGER available{}, total{}, free{};
  if (!::GetDiskFreeSpaceExW(L"S:\\", &available, &total, &free) || total.QuadPart > (64u << 20)) {
    GTEST_SKIP() << "no small disk S: in this prefix";
  }
  struct Case {
    std::string patch;
    const wchar_t* engine;
    const wchar_t* need;
  };
  const Case cases[] = {
      {enginetest::ScriptedPatch("biggest 67108864", MakePatch()), L"patchw32_scripted.dll", L"64"},  // 64 MB
      {MakePatch(40u << 20), L"patchw32_nocost.dll", L"41"}};
  for (const Case& c : cases) {
    std::wstring folder = L"S:\\client-" + std::to_wstring(::GetCurrentProcessId());
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ::CopyFileW(BinPath(L"recorder.exe").c_str(), (folder + L"\\zav.exe").c_str(), FALSE);
    {
      std::ofstream ini(Narrow(folder + L"\\common.ini"), std::ios::binary);
      ini << "[client]\r\nbuild=4526\r\n";
    }
    Story story(PatchInstaller(c.patch, c.engine));
    auto app = story.Start(PathArg(folder));
    ASSERT_TRUE(app);
    ASSERT_TRUE(app->Click(IDOK));
    auto box = app->WaitForMessageBox();
    ASSERT_TRUE(box) << Utf8(app->Describe());
    ::GetDiskFreeSpaceExW(L"S:\\", &available, &total, &free);
    const unsigned freeMB = static_cast<unsigned>(available.QuadPart >> 20);
    EXPECT_EQ(box->caption, L"");
    EXPECT_EQ(box->icon, BoxIcon::Error);
    EXPECT_EQ(box->text, L"没有足够的磁盘空间来安装补丁。\n\n这个补丁需要" + std::wstring(c.need) +
                             L" MB的磁盘空间，而您只有" + std::to_wstring(freeMB) + L" MB的剩余磁盘空间。");
    ASSERT_TRUE(app->Answer(*box, IDOK));
    ASSERT_TRUE(app->WaitForText(IDCANCEL, L"结束"));
    ExpectNoOffer(*app);
    ASSERT_TRUE(app->Click(IDCANCEL));
    EXPECT_EQ(app->WaitForExit(), std::optional<DWORD>(2));
    EXPECT_EQ(FilesIn(folder), 2) << "nothing of the run's own";
    RemoveTree(folder);
  }
}

TEST(PatchRun, AnErrorAfterTheLastFileStaysOnTheFailedPageUnstampedAndEnterKeepsIt) {
  OldClient client;
  const FILETIME before = WriteTime(client.Dir() / L"script\\compiled.code");
  Story story(ScriptedInstaller("at end\nnotify-error 36"));
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));
  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box) << Utf8(app->Describe());
  ASSERT_TRUE(app->Answer(*box, IDOK));
  ASSERT_TRUE(app->WaitForVisible(kGetClient));
  EXPECT_FALSE(app->WaitUntil([&] { return app->Visible(kLaunch); }, 1500)) << "not the finished page";
  ASSERT_TRUE(app->PressEnter());
  EXPECT_FALSE(app->WaitUntil([&] { return !app->Visible(kGetClient); }, 500)) << "Enter keeps the page";
  FILETIME after = WriteTime(client.Dir() / L"script\\compiled.code");
  EXPECT_EQ(::CompareFileTime(&after, &before), 0) << "a failed run stamps nothing";
}

TEST(PatchRun, CancelAfterTheLastFileHasStartedStaysOnTheCancelledPage) {
  OldClient client;
  Story story(ScriptedInstaller("at end\npause 2000"));
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));
  // The engine's status line (not extraction's) with the run's bar full: every file has started.
  ASSERT_TRUE(app->WaitUntil([&] {
    return app->Text(kFileStatus).rfind(L"[", 0) == 0 && app->ProgressPos(kTotalProgress) == 100;
  })) << Utf8(app->Describe());
  ASSERT_TRUE(app->Click(IDCANCEL));
  ASSERT_TRUE(app->WaitForText(IDCANCEL, L"结束"));
  EXPECT_FALSE(app->WaitUntil([&] { return app->Visible(kLaunch); }, 2500)) << "not the finished page";
}

TEST(PatchRun, AnEngineThatStopsBeforeItsLastFileEndsOnTheSupportPage) {
  OldClient client;
  Story story(ScriptedInstaller("announce 9"));
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));
  ASSERT_TRUE(app->WaitForVisible(kSupport)) << Utf8(app->Describe());
  ASSERT_TRUE(app->Click(kSupport));
  EXPECT_EQ(app->WaitForExit(), std::optional<DWORD>(0));
  EXPECT_NE(story.WaitForRecord().find("do=4&n=4526&from=4526&to=4536&err=Engine stopped early ("),
            std::string::npos)
      << story.Record();
}

TEST(PatchRun, EnterDuringTheRunAndOnTheFinishedPageMovesNothing) {
  OldClient client;
  Story story(ScriptedInstaller("delay-ms 600"));
  auto app = story.Start(PathArg(client.Path()));
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));
  ASSERT_TRUE(app->WaitUntil([&] { return app->Text(kFileStatus).rfind(L"[", 0) == 0; }));
  EXPECT_FALSE(app->Enabled(IDOK)) << "the hidden start button takes no command";
  for (int press = 0; press < 10; ++press) {  // held down: the key repeats
    ASSERT_TRUE(app->PressEnter());
    ::Sleep(30);
  }
  EXPECT_TRUE(app->Visible(kDetails)) << "still the installing page";
  EXPECT_FALSE(app->Visible(kLaunch));
  ASSERT_TRUE(app->WaitForVisible(kLaunch)) << Utf8(app->Describe());
  EXPECT_EQ(client.File(L"data\\sky.pak"), "a new file");
  ASSERT_TRUE(app->PressEnter());
  EXPECT_FALSE(app->WaitUntil([&] { return !app->Visible(kLaunch); }, 500))
      << "Enter keeps the finished page";
}

TEST(PatchRun, AClientFolderTheCodePageCannotWriteIsPatchedThroughItsShortName) {
  TempDir dir;
  const std::wstring under = L"\u0e01\u0e02\u0e04 \u0e07\u0e08\u0e09 game\\";  // Thai: not in code page 936
  WriteOldClient(dir, under);
  ::CopyFileW(BinPath(L"recorder.exe").c_str(), (dir / (under + L"zav.exe")).c_str(), FALSE);
  Story story(PatchInstaller(MakePatch()));
  auto app = story.Start(PathArg(dir / under.substr(0, under.size() - 1)));
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));
  ASSERT_TRUE(app->WaitForVisible(kLaunch)) << Utf8(app->Describe());
  EXPECT_EQ(dir.ReadFile(under + L"data\\sky.pak").value_or("<missing>"), "a new file");
}
