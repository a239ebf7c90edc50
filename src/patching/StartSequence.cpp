// The start sequence: what happens when the user presses start. It checks the archive, finds and confirms
// the client folder, compares the installed build with the patch's builds, and either ends on a result
// page or starts the extraction that leads to the patch run.
#include "app/MainDlg.h"
#include "patching/ArchiveRules.h"
#include "patching/ClientProbes.h"
#include "patching/CommandLine.h"
#include "patching/PatchName.h"
#include "patching/PathRules.h"
#include "ui/SetPath.h"

namespace {

// Archive names are lower-cased the way the platform's locale does it.
std::wstring Lower(std::wstring text) {
  if (!text.empty()) ::CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

// A message box with a text of its own (formatted) and a caption from the string table.
int Ask(HWND owner, const CString& text, UINT captionId, UINT style) {
  return ::MessageBoxW(owner, text.c_str(), CString::Load(captionId).c_str(), style);
}

enum class FolderLoop { Accepted, Cancelled, NotShown };

// Shows the folder dialog until the user picks a client folder or gives up. `folder` starts the dialog and
// receives what it returned each time.
FolderLoop AskForFolder(CMainDlg& dialog, CString& folder) {
  for (;;) {
    SetPath ask;
    INT_PTR result = ask.DoModal(folder);
    folder = ask.mPath;
    if (result == IDCANCEL) return FolderLoop::Cancelled;
    if (result != IDOK) return FolderLoop::NotShown;
    if (IsClientFolder(folder)) return FolderLoop::Accepted;
    dialog.ShowMessage(IDS_FOLDER_WITHOUT_CLIENT, 0);
  }
}

}  // namespace

bool CMainDlg::CheckArchive() {
  ArchiveScan scan;
  scan.testPatch = mTestPatch;
  scan.notesName = mNotesName;
  for (uint32_t index = 0;; ++index) {
    std::wstring name = mArchive.EntryName(index);
    if (name.empty()) break;
    ScanArchiveName(Lower(std::move(name)), &scan);
  }
  mTestPatch = scan.testPatch;
  mNotesName = scan.notesName;
  return scan.complete;
}

bool CMainDlg::ParsePatchVersions() {
  mFromVersion = Version{};
  mToVersion = Version{};
  for (uint32_t index = 0;; ++index) {
    std::wstring name = mArchive.EntryName(index);
    if (name.empty()) return false;
    name = Lower(std::move(name));
    if (IsPatchEntryName(name)) return ParsePatchName(name, &mFromVersion, &mToVersion);
  }
}

uint32_t CMainDlg::ReadInstalledBuild(const wchar_t* fileName) {
  if (mZavPath.empty()) ::OutputDebugStringW(L"ReadInstalledBuild: no client folder\n");
  return ReadBuildFile(JoinPath(mZavPath, fileName));
}

void CMainDlg::StartUpdate() {
  if (!CheckArchive()) {
    mOutcome = OutcomeSupport;
    mMessage.LoadString(IDS_FILES_MISSING);
    mReportDetail = mMessage;
    ShowMessage(IDS_FILES_MISSING, 0);
    SetPage(PageFailed);
    return;
  }

  CString candidate = GetCommandLineValue(mCmdLine, L"path");
  for (wchar_t& c : candidate) {
    if (c == L'/') c = L'\\';
  }

  if (mTestPatch) {
    if (candidate.empty()) {
      ShowMessage(IDS_TEST_PATCH_LOCATE, MB_ICONEXCLAMATION);
    } else {
      CString text = CString::Formatted(CString::Load(IDS_TEST_PATCH_CONFIRM).c_str(), candidate.c_str());
      int answer = Ask(m_hWnd, text, IDS_MESSAGE_CAPTION, MB_YESNOCANCEL | MB_ICONEXCLAMATION);
      if (answer == IDCANCEL) {
        mOutcome = OutcomeNone;
        mMessage.LoadString(IDS_CANCELLED);
        SetPage(PageFailed);
        return;
      }
      if (answer == IDNO) candidate.clear();
    }
  }

  if (!CloseRunningClient()) {
    if (ShowMessage(IDS_CLIENT_RUNNING_RETRY, MB_RETRYCANCEL | MB_ICONHAND) == IDRETRY) {
      SetPage(mPage);  // the whole sequence again, from the archive check
      return;
    }
    mOutcome = OutcomeRestart;
    mMessage.LoadString(IDS_CLIENT_STILL_RUNNING);
    SetPage(PageFailed);
    return;
  }

  const bool supplied = !candidate.empty();
  bool chosenInDialog = false;
  if (!supplied || !IsClientFolder(candidate)) {
    ::OutputDebugStringW(
        CString::Formatted(L"Path not supplied or was bad (%s). Let's check the registry", candidate.c_str())
            .c_str());
    candidate = DefaultClientFolder;
    // A test patch never goes to the default folder without the user choosing it.
    if (mTestPatch || !IsClientFolder(candidate)) {
      candidate.clear();
      chosenInDialog = AskForFolder(*this, candidate) == FolderLoop::Accepted;
    }
  }

  if (!supplied && !chosenInDialog && !candidate.empty()) {
    CString text = CString::Formatted(CString::Load(IDS_CONFIRM_FOLDER).c_str(), candidate.c_str());
    if (Ask(m_hWnd, text, IDS_MESSAGE_CAPTION, MB_YESNO | MB_ICONINFORMATION) != IDYES &&
        AskForFolder(*this, candidate) == FolderLoop::Cancelled) {
      mMessage.LoadString(IDS_CANCELLED);
      SetPage(PageFailed);
      return;
    }
  }

  if (!IsClientFolder(candidate)) {
    mOutcome = OutcomeReinstallClient;
    ShowMessage(IDS_CLIENT_NOT_FOUND, 0);
    mMessage.LoadString(IDS_CLIENT_NOT_FOUND);
    mReportDetail = L"Client Not Installed";
    SetPage(PageFailed);
    return;
  }

  if (!candidate.empty() && candidate.back() == L'\\') candidate.pop_back();
  mZavPath = candidate;

  if (!ParsePatchVersions()) {
    ShowMessage(IDS_NO_PATCH_VERSION, 0);
    mOutcome = OutcomeNewPatch;
    mMessage.LoadString(IDS_NO_PATCH_VERSION);
    mReportDetail = mMessage;
    SetPage(PageFailed);
    return;
  }

  mInstalledBuild = ReadInstalledBuild(L"common.ini");
  if (mInstalledBuild == 0) mInstalledBuild = ReadInstalledBuild(L"boot.ini");

  const uint32_t fromBuild = static_cast<uint32_t>(mFromVersion.build);
  const uint32_t toBuild = static_cast<uint32_t>(mToVersion.build);
  if (mInstalledBuild == toBuild) {
    CString text = CString::Formatted(CString::Load(IDS_SAME_VERSION).c_str(), toBuild);
    Ask(m_hWnd, text, IDS_MESSAGE_CAPTION, MB_OK | MB_ICONINFORMATION);
    mOutcome = OutcomeNone;
    mMessage = text;
    SetPage(PageFinished);
    return;
  }
  if (mInstalledBuild != fromBuild) {
    CString text = CString::Formatted(CString::Load(IDS_WRONG_VERSION).c_str(), mInstalledBuild, fromBuild);
    Ask(m_hWnd, text, IDS_ERROR_CAPTION, MB_OK | MB_ICONHAND);
    mReportDetail = CString::Formatted(L"Wrong Version. Need %u", fromBuild);
    mMessage = text;
    mOutcome = OutcomeNewPatch;
    SetPage(PageFailed);
    return;
  }

  // The timer's ticks are handled only after this returns, so it may start before the event exists.
  SetTimer(kExtractTimerId, kExtractTimerPeriodMs);
  mExtractDone.Attach(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  StartExtraction();
}
