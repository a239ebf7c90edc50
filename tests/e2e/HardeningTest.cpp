// The installer as it meets a hostile download folder and hostile archives: libraries planted beside it,
// entry names that would leave the temporary folder, a disk that fills up while it extracts.
#include "PatchClient.h"
#include "archive/EmbedFsFormat.h"

using namespace e2e;

namespace {

const std::wstring kMarker = L"TESSERINE_PLANTED_MARKER";

// The names of the planted libraries that were loaded (each leaves a file in the marker folder).
std::wstring LoadedNames(const TempDir& marker) {
  std::wstring names;
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((marker / L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (found.cFileName[0] != L'.') names += std::wstring(found.cFileName) + L" ";
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return names;
}

// Wine takes a library found beside a program for its own builtin one unless told to prefer it; an
// override for the installer's file name does that (the environment's overrides do not reach a child).
class PreferPlanted {
 public:
  explicit PreferPlanted(const std::vector<std::wstring>& names) {
    for (const std::wstring& name : names) {
      ::RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name.c_str(), REG_SZ, L"native,builtin",
                        sizeof(L"native,builtin"));
    }
  }
  ~PreferPlanted() { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\installer.exe"); }

 private:
  static constexpr const wchar_t* kKey = L"Software\\Wine\\AppDefaults\\installer.exe\\DllOverrides";
};

// The real installer with an archive appended by hand: the packer refuses names the installer must
// refuse by itself.
std::string RawInstaller(const std::vector<Entry>& entries) {
  std::string file = ReadBinFile(L"Tesserine.exe");
  const uint32_t orgsize = static_cast<uint32_t>(file.size());
  auto u32 = [&file](uint32_t value) {
    uint8_t bytes[4];
    embedfs::StoreU32(bytes, value);
    file.append(reinterpret_cast<const char*>(bytes), 4);
  };
  u32(static_cast<uint32_t>(entries.size()));
  for (const Entry& entry : entries) {
    u32(static_cast<uint32_t>(entry.bytes.size()));
    u32(static_cast<uint32_t>(entry.name.size()));
    file += entry.name + '\0';
  }
  for (const Entry& entry : entries) file += entry.bytes;
  u32(orgsize);
  file.append(embedfs::kMagic, embedfs::kMagicSize);
  return file;
}

}  // namespace

TEST(Hardening, AnEngineImportIsNeverTakenFromTheInstallersFolder) {
  OldClient client;
  Story story(PatchInstaller(MakePatch(), L"patchw32_imports.dll"));
  ASSERT_TRUE(::CopyFileW(BinPath(L"planted_library.dll").c_str(),
                          (story.InstallerFolder() + L"\\planted_library.dll").c_str(), FALSE));
  TempDir marker;
  auto app = story.Start(PathArg(client.Path()), {{kMarker, marker.Path()}});
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));
  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box) << Utf8(app->Describe());
  EXPECT_EQ(box->text, L"无法加载需要的文件:patchw32.dll");
  ASSERT_TRUE(app->Answer(*box, IDOK));
  ASSERT_TRUE(app->WaitForVisible(kSupport));
  EXPECT_EQ(LoadedNames(marker), L"") << "the planted library was loaded";
  EXPECT_EQ(client.File(L"readme.txt"), "old readme");
}

// Libraries a whole run loads, as traced under Wine, that are not KnownDLLs and that the installer's own
// steps load (the rich edit control and its script engine; msimg32, which uxtheme delay-loads to draw;
// comctl32, bound side by side by the manifest), and libraries the installer once imported or Windows
// loads on demand. Wine's own static import chains (version, uxtheme, win32u, ucrtbase...) are left out:
// Wine resolves them beside the program before its first line, where Windows serves them from KnownDLLs.
TEST(Hardening, NoLibraryPlantedBesideTheInstallerIsLoadedInAWholeRun) {
  OldClient client;
  Story story(PatchInstaller(MakePatch()));
  const std::vector<std::wstring> names = {L"riched32", L"riched20", L"usp10",  L"msimg32",
                                           L"comctl32", L"bcrypt",   L"dwmapi", L"cryptbase",
                                           L"winmm",    L"userenv",  L"sxs"};
  for (const std::wstring& name : names) {
    ASSERT_TRUE(::CopyFileW(BinPath(L"planted_library.dll").c_str(),
                            (story.InstallerFolder() + L"\\" + name + L".dll").c_str(), FALSE));
  }
  PreferPlanted prefer(names);
  TempDir marker;
  auto app = story.Start(PathArg(client.Path()), {{kMarker, marker.Path()}});
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->Click(IDOK));
  ASSERT_TRUE(app->WaitForVisible(kLaunch)) << Utf8(app->Describe());
  EXPECT_EQ(LoadedNames(marker), L"") << "planted libraries were loaded";
  EXPECT_EQ(client.File(L"common.ini"), "[client]\r\nbuild=4536\r\n");
}

TEST(Hardening, AnEntryNameThatLeavesTheTemporaryFolderWritesNothing) {
  OldClient client;
  TempDir scratch;
  const std::wstring temp = scratch / L"a\\b";
  ASSERT_TRUE(scratch.MakeDir(L"a\\b"));
  std::vector<Entry> entries = PatchInstaller(MakePatch());
  entries[2].name = "..\\..\\zav.2.12.4526-2.12.4536.rtp";
  ASSERT_TRUE(scratch.WriteFile(L"installer.exe", RawInstaller(entries)));
  StartOptions options;
  options.args = PathArg(client.Path());
  options.env = {{L"TMP", temp}, {L"TEMP", temp}};
  auto app = Installer::Start(scratch / L"installer.exe", options);
  ASSERT_TRUE(app && app->WaitForDialog());
  EXPECT_EQ(app->Text(1017), L"2.12.4526 -> 2.12.4536");
  ASSERT_TRUE(app->Click(IDOK));
  auto box = app->WaitForMessageBox();
  ASSERT_TRUE(box) << Utf8(app->Describe());
  EXPECT_EQ(box->text.rfind(L"无法解压补丁文件", 0), 0u) << Utf8(box->text);
  ASSERT_TRUE(app->Answer(*box, IDOK));
  ASSERT_TRUE(app->WaitForText(IDCANCEL, L"结束"));
  ASSERT_TRUE(app->Click(IDCANCEL));
  EXPECT_EQ(app->WaitForExit(), std::optional<DWORD>(2));
  EXPECT_EQ(FilesIn(scratch.Path(), true), 2) << "only the installer and the temporary folder a\\";
  EXPECT_EQ(FilesIn(temp, true), 0) << "nothing left in the temporary folder";
  EXPECT_EQ(client.File(L"readme.txt"), "old readme");
}

// A temporary folder on a drive too small for what is extracted: refused before the first byte, with the
// disk-space message (a drive that fills up while extracting is the extraction's write failure).
TEST(Hardening, ATemporaryDriveTooSmallIsRefusedBeforeExtractingAndLeavesNothing) {
  // Drive S: is the harness's 32 MB disk.
  ULARGE_INTEGER available{}, total{}, free{};
  if (!::GetDiskFreeSpaceExW(L"S:\\", &available, &total, &free) || total.QuadPart > (64u << 20)) {
    GTEST_SKIP() << "no small disk S: in this prefix";
  }
  ClientFolder client;
  std::vector<Entry> entries = ShippedEntries();
  entries[2].bytes.assign(48u << 20, '\x5a');  // more than the disk holds
  PackedInstaller installer(entries);
  ASSERT_TRUE(installer.Ok()) << installer.Error();
  const std::wstring temp = L"S:\\temp-" + std::to_wstring(::GetCurrentProcessId());
  ASSERT_TRUE(::CreateDirectoryW(temp.c_str(), nullptr));
  StartOptions options;
  options.args = PathArg(client.Path());
  options.env = {{L"TMP", temp}, {L"TEMP", temp}};
  auto app = Installer::Start(installer.Path(), options);
  ASSERT_TRUE(app && app->WaitForDialog());
  ASSERT_TRUE(app->Click(IDOK));
  auto box = app->WaitForMessageBox(30000);
  ASSERT_TRUE(box) << Utf8(app->Describe());
  ::GetDiskFreeSpaceExW(temp.c_str(), &available, &total, &free);
  EXPECT_EQ(box->text, L"没有足够的磁盘空间来安装补丁。\n\n这个补丁需要49 MB的磁盘空间，而您只有" +
                           std::to_wstring(available.QuadPart >> 20) + L" MB的剩余磁盘空间。");
  ASSERT_TRUE(app->Answer(*box, IDOK));
  ASSERT_TRUE(app->WaitForText(IDCANCEL, L"结束"));
  ExpectNoOffer(*app);
  ASSERT_TRUE(app->Click(IDCANCEL));
  EXPECT_EQ(app->WaitForExit(), std::optional<DWORD>(2));
  EXPECT_EQ(FilesIn(temp, true), 0) << "nothing was extracted";
  RemoveTree(temp);
}
