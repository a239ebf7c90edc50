// The wizard's four pages and the failed page's outcomes.
#include "app/MainDlg.h"
#include "ui/Restart.h"

namespace {

struct OutcomeFace {
  uint32_t outcome;
  UINT hintId;
  int buttonId;
};

// The failed page's hint and single button by outcome; other codes show neither.
constexpr OutcomeFace kOutcomeFaces[] = {
    {OutcomeReinstallClient, IDS_HINT_REINSTALL_CLIENT, IDC_GET_CLIENT},
    {OutcomeNewPatch, IDS_HINT_NEW_PATCH, IDC_GET_PATCH},
    {OutcomeSupport, IDS_HINT_SUPPORT, IDC_SUPPORT},
    {OutcomeRestart, IDS_HINT_RESTART, 0},
};

}  // namespace

void CMainDlg::ResetPage() {
  for (int id : {IDC_FILE_PROGRESS, IDC_TOTAL_PROGRESS, IDC_DETAILS_LIST, IDC_DETAILS, IDC_GET_CLIENT,
                 IDC_GET_PATCH, IDC_LAUNCH, IDC_SUPPORT, IDC_NOTES_FRAME}) {
    ::ShowWindow(GetDlgItem(id), SW_HIDE);
  }
  if (mNotesView.IsWindow()) mNotesView.ShowWindow(SW_HIDE);
  ::SetDlgItemTextW(m_hWnd, IDC_FILE_STATUS, L"");
  ::SetDlgItemTextW(m_hWnd, IDC_PHASE_STATUS, L"");
}

void CMainDlg::SetPage(int page) {
  mPage = page;
  ResetPage();
  switch (page) {
    case PageWelcome: {
      CheckArchive();
      SetItemTextId(IDOK, IDS_START_BUTTON);
      SetItemTextId(IDCANCEL, IDS_CANCEL_BUTTON);
      SetTitleId(IDS_WELCOME_TITLE);
      ::ShowWindow(GetDlgItem(IDC_NOTES_FRAME), SW_SHOW);
      ShowPatchNotes();
      ParsePatchVersions();
      std::wstring from = FormatVersion(mFromVersion);
      std::wstring to = FormatVersion(mToVersion);
      ::SetDlgItemTextW(m_hWnd, IDC_VERSIONS,
                        CString::Formatted(L"%s -> %s", from.c_str(), to.c_str()).c_str());
      CString caption;
      caption.Format(CString::Load(IDS_WINDOW_TITLE).c_str(), from.c_str(), to.c_str());
      SetWindowText(caption.c_str());
      break;
    }
    case PageInstalling:
      ::ShowWindow(GetDlgItem(IDC_DETAILS), SW_SHOW);
      ::ShowWindow(GetDlgItem(IDOK), SW_HIDE);
      ::ShowWindow(GetDlgItem(IDC_FILE_PROGRESS), SW_SHOW);
      ::ShowWindow(GetDlgItem(IDC_TOTAL_PROGRESS), SW_SHOW);
      SetItemTextId(IDCANCEL, IDS_CANCEL_BUTTON);
      SetTitleId(IDS_INSTALLING_TITLE);
      StartUpdate();
      break;
    case PageFinished:
      ::ShowWindow(GetDlgItem(IDOK), SW_HIDE);
      SetItemTextId(IDCANCEL, IDS_END_BUTTON);
      SetTitleId(IDS_FINISHED_TITLE);
      mMessage.LoadString(IDS_PATCH_SUCCEEDED);
      ::ShowWindow(GetDlgItem(IDC_LAUNCH), SW_SHOW);
      if (mRestartNeeded && ShowMessage(IDS_RESTART_PROMPT, MB_YESNO | MB_ICONEXCLAMATION) == IDYES) {
        RequestSystemRestart();  // a refused request leaves the page as it is
      }
      break;
    case PageFailed: {
      SetTitleId(IDS_FAILED_TITLE);
      SetItemTextId(IDCANCEL, IDS_END_BUTTON);
      mHint.clear();
      for (const OutcomeFace& face : kOutcomeFaces) {
        if (face.outcome != mOutcome) continue;
        mHint.LoadString(face.hintId);
        if (face.buttonId != 0) ::ShowWindow(GetDlgItem(face.buttonId), SW_SHOW);
      }
      break;
    }
    default:
      break;
  }
}
