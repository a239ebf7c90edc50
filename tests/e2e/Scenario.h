#pragma once
// Building blocks of the installer's stories: a client folder on disk, a packed installer started with
// a command line, and the record of what it handed over to (the client it launched, the report it opened).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Driver.h"
#include "PackedInstaller.h"

namespace e2e {

// Control ids of the main dialog and the folder dialog.
constexpr int kFileProgress = 1000;
constexpr int kTotalProgress = 1002;
constexpr int kFileStatus = 1008;
constexpr int kPhaseStatus = 1009;
constexpr int kDetailsList = 1010;
constexpr int kDetails = 1012;
constexpr int kGetClient = 1013;
constexpr int kGetPatch = 1014;
constexpr int kSupport = 1015;
constexpr int kLaunch = 1016;
constexpr int kFolderEdit = 1000;

// An installed client: zav.exe (the recorder, so a launch is seen) and common.ini with a build line.
class ClientFolder {
 public:
  explicit ClientFolder(const std::string& commonIni = "[client]\r\nbuild=4526\r\n") {
    ::CopyFileW(BinPath(L"recorder.exe").c_str(), (mDir / L"zav.exe").c_str(), FALSE);
    if (!commonIni.empty()) mDir.WriteFile(L"common.ini", commonIni);
  }
  const std::wstring& Path() const { return mDir.Path(); }
  const TempDir& Dir() const { return mDir; }

 private:
  TempDir mDir;
};

// The installer, packed with `entries`, started with `args` and recording its hand-overs in a file.
class Story {
 public:
  explicit Story(const std::vector<Entry>& entries = ShippedEntries()) : mInstaller(entries) {}

  std::unique_ptr<Installer> Start(const std::wstring& args = L"",
                                   const std::vector<std::pair<std::wstring, std::wstring>>& env = {}) {
    EXPECT_TRUE(mInstaller.Ok()) << mInstaller.Error();
    StartOptions options;
    options.args = args;
    options.env = {{L"TESSERINE_RECORD", RecordPath()}};
    options.env.insert(options.env.end(), env.begin(), env.end());
    std::wstring error;
    auto app = Installer::Start(mInstaller.Path(), options, &error);
    if (!app || !app->WaitForDialog()) {
      ADD_FAILURE() << "no dialog\n" << Utf8(app ? app->Describe() : error);
      return nullptr;
    }
    return app;
  }

  // What the installer handed over to, one command line a line.
  std::string Record() const { return mRecord.ReadFile(L"record.txt").value_or(""); }
  // Hand-overs start programs of their own, which may write after the installer has ended.
  std::string WaitForRecord(DWORD timeoutMs = 10000) const {
    for (DWORD start = ::GetTickCount(); Record().empty() && ::GetTickCount() - start < timeoutMs;)
      ::Sleep(20);
    return Record();
  }
  std::wstring RecordPath() const { return mRecord / L"record.txt"; }
  // The folder the installer runs from (a download folder, where others may put files beside it).
  std::wstring InstallerFolder() const { return mInstaller.Path().substr(0, mInstaller.Path().rfind(L'\\')); }

 private:
  PackedInstaller mInstaller;
  TempDir mRecord;
};

// A result page that offers nothing: none of the web buttons and no launch button.
inline void ExpectNoOffer(const DialogWindow& app) {
  for (int id : {kGetClient, kGetPatch, kSupport, kLaunch}) EXPECT_FALSE(app.Visible(id)) << "button " << id;
}

// The failed page that offers nothing, once its one box was answered: no box comes again and End closes
// with code 2.
inline void ExpectBareFailedPageThenEnd(Installer& app) {
  ASSERT_TRUE(app.WaitForText(IDCANCEL, L"结束"));
  ExpectNoOffer(app);
  EXPECT_FALSE(app.FindMessageBox()) << "the message is shown once";
  ASSERT_TRUE(app.Click(IDCANCEL));
  EXPECT_EQ(app.WaitForExit(), std::optional<DWORD>(2));
}

// How many files (and, when asked, folders) a folder holds, not looking into its folders.
inline int FilesIn(const std::wstring& folder, bool countFolders = false) {
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int things = 0;
  do {
    const std::wstring name = found.cFileName;
    const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (name != L"." && name != L".." && (countFolders || !isFolder)) ++things;
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return things;
}

// "path=" with the folder, quoted so that blanks are kept.
inline std::wstring PathArg(const std::wstring& folder) {
  return L"path=\"" + folder + L"\"";
}

}  // namespace e2e
