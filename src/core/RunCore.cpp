#include "core/RunCore.h"

#include "rules/resource.h"

CRunCore::CRunCore(RunView& view, const RunPorts& ports)
    : mView(view),
      mTexts(ports.texts),
      mProbes(ports.probes),
      mArchive(ports.archive),
      mTemp(ports.temp),
      mEngine(ports.engine),
      mThread(ports.thread) {}

CRunCore::~CRunCore() {
  // The extraction thread uses this object until it has stopped.
  StopExtraction();
}

void CRunCore::OnOK() {
  // Start is the only forward step: the later pages move on by themselves, and Enter (which is command
  // 1 on every page) must not skip a running extraction or patch.
  if (mPage == PageWelcome) SetPage(PageInstalling);
}

void CRunCore::OnCancel(int id) {
  if (mCancelEvent) {
    mCancelEvent.Set();
    Ending cancelled = Ending::Failed();
    if (id != kCancelByFlow) cancelled.WithMessage(Load(IDS_CANCELLED));
    EndRun(cancelled);
  } else {
    mView.CloseDialog(id);
  }
}

void CRunCore::OnTimer(uintptr_t timerId) {
  if (timerId != kExtractTimerId || !mExtractDone.exchange(false)) return;
  // Stopped first: the engine callback pumps messages, and a second tick must not start a second run.
  mView.StopTimer(kExtractTimerId);
  RunPatch();
}

void CRunCore::EndRun(const Ending& ending) {
  if (ending.box) mView.ShowBox(ending.box->text, ending.box->caption, ending.box->style);
  if (ending.outcome) mOutcome = *ending.outcome;
  if (ending.message) mMessage = *ending.message;
  if (ending.reportDetail) mReportDetail = *ending.reportDetail;
  SetPage(ending.page);
}

Box CRunCore::BoxOf(uint32_t stringId, uint32_t style) {
  if (style == kErrorMessage) return Box{Load(stringId), Load(IDS_ERROR_CAPTION), box::kIconHand | box::kOk};
  return Box{Load(stringId), Load(IDS_MESSAGE_CAPTION), style};
}

int CRunCore::ShowMessage(uint32_t stringId, uint32_t style) {
  const Box shown = BoxOf(stringId, style);
  return mView.ShowBox(shown.text, shown.caption, shown.style);
}
