// The start sequence's archive rules on the dialog's side: what the archive holds and which versions
// its patch file names.
#include "app/MainDlg.h"
#include "patching/ArchiveRules.h"
#include "patching/PatchName.h"

namespace {

// Archive names are lower-cased the way the platform's locale does it.
std::wstring Lower(std::wstring text) {
  if (!text.empty()) ::CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
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

void CMainDlg::StartUpdate() {
  if (!CheckArchive()) {
    mOutcome = OutcomeSupport;
    mMessage.LoadString(IDS_FILES_MISSING);
    mReportDetail = mMessage;
    ShowMessage(IDS_FILES_MISSING, 0);
    SetPage(PageFailed);
    return;
  }
}
