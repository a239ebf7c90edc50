// The wizard's four pages and the failed page's outcomes.
#include "core/RunCore.h"
#include "rules/Format.h"
#include "rules/resource.h"

namespace core {

using namespace rules;

namespace {

struct OutcomeFace {
  uint32_t outcome;
  uint32_t hintId;
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

void CRunCore::SetPage(int page) {
  mPage = page;
  switch (page) {
    case PageWelcome: {
      CheckArchive();
      mView.ShowPage(page, 0);
      mStart.ShowPatchNotes();
      ParsePatchVersions();
      const std::wstring from = FormatVersion(mStart.FromVersion());
      const std::wstring to = FormatVersion(mStart.ToVersion());
      mView.ShowVersions(FormatText(L"%s -> %s", {from, to}), FormatText(Load(IDS_WINDOW_TITLE), {from, to}));
      break;
    }
    case PageInstalling:
      mView.ShowPage(page, 0);
      StartUpdate();
      break;
    case PageFinished:
      mView.ShowPage(page, 0);
      mMessage = Load(IDS_PATCH_SUCCEEDED);
      mHint.clear();
      if (mSession.RestartNeeded() &&
          ShowMessage(IDS_RESTART_PROMPT, box::kYesNo | box::kIconExclamation) == box::kAnswerYes) {
        mSystem.RequestSystemRestart();  // a refused request leaves the page as it is
      }
      break;
    case PageFailed: {
      int offer = 0;
      mHint.clear();
      for (const OutcomeFace& face : kOutcomeFaces) {
        if (face.outcome != mOutcome) continue;
        mHint = Load(face.hintId);
        offer = face.buttonId;
      }
      mView.ShowPage(page, offer);
      break;
    }
    default:
      mView.ShowPage(page, 0);
      break;
  }
}

}  // namespace core
