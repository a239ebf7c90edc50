#include "win/ClientProbes.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "RemoveTree.h"
#include "rules/PathRules.h"

using namespace rules;
namespace {

// A fresh folder under the user's temporary folder, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder() {
    static int counter = 0;
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    // Wine reuses process ids: a folder a killed run left is never reused.
    do {
      mPath = std::wstring(temp) + L"tesserine-probes-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
              std::to_wstring(++counter);
    } while (!::CreateDirectoryW(mPath.c_str(), nullptr));
  }
  ~TempFolder() { RemoveTree(mPath); }

  // The folder without a trailing backslash.
  const std::wstring& Path() const { return mPath; }
  std::wstring operator/(const std::wstring& name) const { return mPath + L"\\" + name; }

  void MakeDir(const std::wstring& name) const {
    ASSERT_TRUE(::CreateDirectoryW((*this / name).c_str(), nullptr));
  }
  void Write(const std::wstring& name, const std::string& bytes) const {
    HANDLE file = ::CreateFileW((*this / name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    ASSERT_EQ(written, bytes.size());
  }

 private:
  std::wstring mPath;
};

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

uint64_t Ticks(const FILETIME& time) {
  return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

uint64_t Now() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return Ticks(now);
}

// Milliseconds from a performance-counter value to now.
double MsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now;
  LARGE_INTEGER frequency;
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 /
         static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Counter() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now;
}

// ---- IsClientFolder

TEST(ClientProbesTest, DefaultClientFolderIsTheLowerCaseProgramFilesFolder) {
  EXPECT_STREQ(DefaultClientFolder, L"c:\\program files\\norrat\\zav\\");
}

TEST(IsClientFolderTest, ZavExeIsFoundWithAndWithoutTrailingBackslash) {
  TempFolder client;
  client.Write(L"zav.exe", "MZ");
  EXPECT_TRUE(IsClientFolder(client.Path()));
  EXPECT_TRUE(IsClientFolder(client.Path() + L"\\"));
}

TEST(IsClientFolderTest, BinZavExeIsFoundWithAndWithoutTrailingBackslash) {
  TempFolder client;
  client.MakeDir(L"bin");
  client.Write(L"bin\\zav.exe", "MZ");
  EXPECT_TRUE(IsClientFolder(client.Path()));
  EXPECT_TRUE(IsClientFolder(client.Path() + L"\\"));
}

TEST(IsClientFolderTest, DirectoryNamedZavExeIsNotTheClient) {
  TempFolder folder;
  folder.MakeDir(L"zav.exe");
  folder.MakeDir(L"bin");
  folder.MakeDir(L"bin\\zav.exe");
  EXPECT_FALSE(IsClientFolder(folder.Path()));
  EXPECT_FALSE(IsClientFolder(folder.Path() + L"\\"));
}

TEST(IsClientFolderTest, DirectoryNamedZavExeFallsThroughToBinZavExe) {
  TempFolder client;
  client.MakeDir(L"zav.exe");
  client.MakeDir(L"bin");
  client.Write(L"bin\\zav.exe", "MZ");
  EXPECT_TRUE(IsClientFolder(client.Path()));
}

TEST(IsClientFolderTest, EmptyOrMissingFolderIsNotTheClient) {
  TempFolder empty;
  EXPECT_FALSE(IsClientFolder(empty.Path()));
  EXPECT_FALSE(IsClientFolder(empty / L"missing"));
  // Other files of the client do not count.
  empty.Write(L"zav.ini", "build=4536\r\n");
  empty.Write(L"zav.exe.bak", "MZ");
  EXPECT_FALSE(IsClientFolder(empty.Path()));
}

TEST(IsClientFolderTest, EmptyTextLooksOnlyAtTheDriveRoot) {
  // "\zav.exe" and "\bin\zav.exe" on the current drive, which has no client.
  EXPECT_FALSE(IsClientFolder(L""));
}

TEST(IsClientFolderTest, RunningClientsExecutableIsStillRecognised) {
  TempFolder client;
  client.Write(L"zav.exe", "MZ");
  // A running program keeps its executable open for reading and lets others only read it.
  HANDLE image = ::CreateFileW((client / L"zav.exe").c_str(), GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(image, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(IsClientFolder(client.Path()));
  ::CloseHandle(image);
}

TEST(IsClientFolderTest, FolderWithChineseNameIsRecognised) {
  TempFolder parent;
  parent.MakeDir(L"澜星纪");
  parent.Write(L"澜星纪\\zav.exe", "MZ");
  EXPECT_TRUE(IsClientFolder(parent / L"澜星纪"));
}

TEST(IsClientFolderTest, ProbeLeavesTheExecutableUsable) {
  TempFolder client;
  client.Write(L"zav.exe", "MZ");
  ASSERT_TRUE(IsClientFolder(client.Path()));
  // No handle is left open: the file can be opened exclusively and deleted.
  HANDLE exclusive = ::CreateFileW((client / L"zav.exe").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(exclusive, INVALID_HANDLE_VALUE);
  if (exclusive != INVALID_HANDLE_VALUE) ::CloseHandle(exclusive);
  EXPECT_TRUE(::DeleteFileW((client / L"zav.exe").c_str()));
}

// ---- ReadBuildFile (what ReadInstalledBuild reads: the client folder joined with the file name)

class ReadBuildFileTest : public ::testing::Test {
 protected:
  uint32_t BuildOf(const std::string& contents) {
    mFolder.Write(L"common.ini", contents);
    return ReadBuildFile(JoinPath(mFolder.Path(), L"common.ini"));
  }
  // Filler lines of exactly `bytes` bytes.
  static std::string Filler(size_t bytes) {
    std::string text;
    while (text.size() + 10 <= bytes) text += ";comment\r\n";
    text += std::string(bytes - text.size(), ' ');
    return text;
  }

  TempFolder mFolder;
};

TEST_F(ReadBuildFileTest, CrLfLineGivesTheBuild) {
  EXPECT_EQ(BuildOf("[Client]\r\nname=zav\r\nbuild=4536\r\nlang=zh\r\n"), 4536u);
}

TEST_F(ReadBuildFileTest, KeyInsideLongerKeyMatchesAndTheFirstOccurrenceWins) {
  EXPECT_EQ(BuildOf("serverbuild=4400\r\nbuild=4536\r\n"), 4400u);
}

TEST_F(ReadBuildFileTest, TrailingBlanksAreIgnoredAndLetterGivesZero) {
  EXPECT_EQ(BuildOf("build=4536  \r\n"), 4536u);
  EXPECT_EQ(BuildOf("build=v4536\r\n"), 0u);
}

TEST_F(ReadBuildFileTest, LineEndingExactlyAtByte1024IsRead) {
  const std::string line = "build=4536\r\n";
  const std::string contents = Filler(kBuildFileBytes - line.size()) + line;
  ASSERT_EQ(contents.size(), kBuildFileBytes);
  EXPECT_EQ(BuildOf(contents), 4536u);
}

TEST_F(ReadBuildFileTest, LineFeedBeyondByte1024GivesZero) {
  const std::string line = "build=4536\r\n";
  EXPECT_EQ(BuildOf(Filler(kBuildFileBytes - line.size() + 1) + line), 0u);
}

TEST_F(ReadBuildFileTest, KeyBeyondByte1024GivesZero) {
  EXPECT_EQ(BuildOf(Filler(2000) + "build=4536\r\n"), 0u);
}

TEST_F(ReadBuildFileTest, ValueWithoutLineFeedGivesZero) {
  EXPECT_EQ(BuildOf("build=4536"), 0u);
  EXPECT_EQ(BuildOf("build=4536\r"), 0u);
}

TEST_F(ReadBuildFileTest, EmptyFileGivesZero) {
  EXPECT_EQ(BuildOf(""), 0u);
}

TEST_F(ReadBuildFileTest, MissingFileOrFolderGivesZero) {
  EXPECT_EQ(ReadBuildFile(JoinPath(mFolder.Path(), L"boot.ini")), 0u);
  EXPECT_EQ(ReadBuildFile(JoinPath(mFolder.Path(), L"")), 0u);
}

TEST_F(ReadBuildFileTest, FileTheClientKeepsOpenIsStillRead) {
  mFolder.Write(L"common.ini", "build=4536\r\n");
  HANDLE client = ::CreateFileW((mFolder / L"common.ini").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadBuildFile(mFolder / L"common.ini"), 4536u);
  ::CloseHandle(client);
}

TEST_F(ReadBuildFileTest, FileLockedByAWriterGivesZero) {
  mFolder.Write(L"common.ini", "build=4536\r\n");
  HANDLE writer = ::CreateFileW((mFolder / L"common.ini").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadBuildFile(mFolder / L"common.ini"), 0u);
  ::CloseHandle(writer);
}

TEST_F(ReadBuildFileTest, ReadingLeavesTheFileClosed) {
  mFolder.Write(L"common.ini", "build=4536\r\n");
  ASSERT_EQ(ReadBuildFile(mFolder / L"common.ini"), 4536u);
  EXPECT_TRUE(::DeleteFileW((mFolder / L"common.ini").c_str()));
}

TEST_F(ReadBuildFileTest, FolderWithChineseNameIsRead) {
  mFolder.MakeDir(L"澜星纪");
  mFolder.Write(L"澜星纪\\boot.ini", "build=4526\r\n");
  EXPECT_EQ(ReadBuildFile(JoinPath(mFolder / L"澜星纪", L"boot.ini")), 4526u);
}

// ---- GetFreeDiskSpaceMB

TEST(GetFreeDiskSpaceMBTest, RealFolderGivesTheFreeMegabytesOfItsVolume) {
  TempFolder folder;
  ULARGE_INTEGER available{};
  ULARGE_INTEGER total{};
  ULARGE_INTEGER free{};
  ASSERT_TRUE(::GetDiskFreeSpaceExW(folder.Path().c_str(), &available, &total, &free));
  const uint64_t expected = available.QuadPart / 1048576;
  const uint32_t result = GetFreeDiskSpaceMB(folder.Path());
  EXPECT_NE(result, 0u);
  // Other programs write to the same disk meanwhile; a difference of a few megabytes is theirs.
  EXPECT_NEAR(static_cast<double>(result), static_cast<double>(expected), 64.0);
  // The same with the trailing backslash.
  EXPECT_NEAR(static_cast<double>(GetFreeDiskSpaceMB(folder.Path() + L"\\")), static_cast<double>(expected),
              64.0);
  if (expected > 4096) {
    // Beyond 4 GiB the byte count needs 64 bits.
    EXPECT_GT(result, 4096u);
  }
}

TEST(GetFreeDiskSpaceMBTest, BogusPathGivesZero) {
  // A drive letter that the system does not have.
  const DWORD drives = ::GetLogicalDrives();
  wchar_t letter = L'Z';
  while (letter > L'D' && (drives & (1u << (letter - L'A')))) --letter;
  ASSERT_FALSE(drives & (1u << (letter - L'A')));
  EXPECT_EQ(GetFreeDiskSpaceMB(std::wstring(1, letter) + L":\\zav\\"), 0u);

  TempFolder folder;
  EXPECT_EQ(GetFreeDiskSpaceMB(folder / L"no such folder"), 0u);
}

// ---- TouchFile

TEST(TouchFileTest, SetsCreationAccessAndWriteTimeToNow) {
  TempFolder folder;
  const std::wstring path = folder / L"compiled.code";
  folder.Write(L"compiled.code", "code");
  {
    HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SYSTEMTIME old{2001, 1, 0, 1, 0, 0, 0, 0};
    FILETIME oldTime;
    ::SystemTimeToFileTime(&old, &oldTime);
    ASSERT_TRUE(::SetFileTime(file, &oldTime, &oldTime, &oldTime));
    ::CloseHandle(file);
  }

  const uint64_t before = Now();
  TouchFile(path);
  const uint64_t after = Now();

  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
  // A file system may keep coarser times than the clock: one second of slack below.
  const uint64_t slack = 10000000;
  for (const FILETIME& time : {data.ftCreationTime, data.ftLastAccessTime, data.ftLastWriteTime}) {
    EXPECT_GE(Ticks(time) + slack, before);
    EXPECT_LE(Ticks(time), after);
  }
  EXPECT_EQ(Ticks(data.ftCreationTime), Ticks(data.ftLastWriteTime));
  EXPECT_EQ(Ticks(data.ftLastAccessTime), Ticks(data.ftLastWriteTime));
  // The contents are untouched.
  EXPECT_EQ(data.nFileSizeLow, 4u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
}

TEST(TouchFileTest, MissingFileIsNotCreated) {
  TempFolder folder;
  TouchFile(folder / L"compiled.code");
  EXPECT_FALSE(Exists(folder / L"compiled.code"));
  TouchFile(folder / L"script\\compiled.code");
  EXPECT_FALSE(Exists(folder / L"script"));
}

TEST(TouchFileTest, TouchedFileIsClosedAfterwards) {
  TempFolder folder;
  folder.Write(L"compiled.code", "code");
  TouchFile(folder / L"compiled.code");
  EXPECT_TRUE(::DeleteFileW((folder / L"compiled.code").c_str()));
}

// ---- CloseRunningClient

// The stand-in client (fake_client.exe beside this test), started by the test itself: windows are found
// on the caller's desktop only.
class FakeClient {
 public:
  // The client ignores the first `ignoredCloses` close requests.
  explicit FakeClient(int ignoredCloses) {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring exe = self;
    exe.resize(exe.rfind(L'\\') + 1);
    exe += L"fake_client.exe";
    std::wstring commandLine = L"\"" + exe + L"\" " + std::to_wstring(ignoredCloses);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &mProcess)) {
      return;
    }
    for (int i = 0; i < 200 && mWindow == nullptr; ++i) {
      HWND found = ::FindWindowW(L"kreluiScreen", nullptr);
      DWORD pid = 0;
      if (found) ::GetWindowThreadProcessId(found, &pid);
      if (found && pid == mProcess.dwProcessId) {
        mWindow = found;
      } else {
        ::Sleep(25);
      }
    }
  }
  ~FakeClient() {
    if (mProcess.hProcess == nullptr) return;
    if (::WaitForSingleObject(mProcess.hProcess, 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(mProcess.hProcess, 9);
      ::WaitForSingleObject(mProcess.hProcess, 5000);
    }
    ::CloseHandle(mProcess.hThread);
    ::CloseHandle(mProcess.hProcess);
  }

  HWND Window() const { return mWindow; }
  // The process's exit code once it ended within `ms`, else STILL_ACTIVE.
  DWORD ExitCode(DWORD ms) const {
    ::WaitForSingleObject(mProcess.hProcess, ms);
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(mProcess.hProcess, &code);
    return code;
  }
  std::wstring Title() const {
    wchar_t title[64] = {};
    ::GetWindowTextW(mWindow, title, 64);
    return title;
  }

 private:
  PROCESS_INFORMATION mProcess{};
  HWND mWindow = nullptr;
};

TEST(CloseRunningClientTest, NoClientWindowReturnsTrueAtOnce) {
  ASSERT_EQ(::FindWindowW(L"kreluiScreen", nullptr), nullptr);
  const LARGE_INTEGER start = Counter();
  EXPECT_TRUE(CloseRunningClient());
  EXPECT_LT(MsSince(start), 50.0);
}

TEST(CloseRunningClientTest, ClientThatClosesOnRequestIsClosed) {
  FakeClient client(0);
  ASSERT_NE(client.Window(), nullptr);
  EXPECT_TRUE(CloseRunningClient());
  EXPECT_FALSE(::IsWindow(client.Window()));
  EXPECT_EQ(client.ExitCode(5000), 0u);  // it ended on the close request, not on its lifetime
}

TEST(CloseRunningClientTest, ClientThatClosesOnTheThirdRequestIsClosed) {
  FakeClient client(2);
  ASSERT_NE(client.Window(), nullptr);
  EXPECT_TRUE(CloseRunningClient());
  EXPECT_EQ(client.ExitCode(5000), 0u);
}

TEST(CloseRunningClientTest, ClientIgnoringThreeRequestsIsReportedRunning) {
  FakeClient client(3);
  ASSERT_NE(client.Window(), nullptr);
  const LARGE_INTEGER start = Counter();
  EXPECT_FALSE(CloseRunningClient());
  const double elapsed = MsSince(start);
  // Three requests, each followed by a 100 ms pause, then one last look.
  EXPECT_EQ(client.Title(), L"closes:3");
  EXPECT_GE(elapsed, 290.0);
  EXPECT_LT(elapsed, 2000.0);
  EXPECT_TRUE(::IsWindow(client.Window()));
}

}  // namespace
