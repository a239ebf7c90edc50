#include "core/RunCore.h"

#include "rules/Format.h"
#include "rules/resource.h"

namespace core {

CRunCore::CRunCore(RunView& view, const RunPorts& ports)
    : mView(view),
      mTexts(ports.texts),
      mSystem(ports.system),
      mSession(view, ports.texts, ports.probes, ports.system, ports.engine, *this),
      mExtraction(view, ports.texts, ports.archive, ports.temp, ports.thread),
      mStart(view, ports.texts, ports.probes, ports.system, ports.archive, mExtraction, *this) {}

void CRunCore::OnOK() {
  // Start is the only forward step: the later pages move on by themselves, and Enter (which is command
  // 1 on every page) must not skip a running extraction or patch.
  if (mPage == PageWelcome) SetPage(PageInstalling);
}

void CRunCore::OnCancel(int id) {
  if (!mSession.Cancel()) {
    mView.CloseDialog(id);
    return;
  }
  Ending cancelled = Ending::Failed();
  if (id != kCancelByFlow) cancelled.WithMessage(Load(IDS_CANCELLED));
  EndRun(cancelled);
}

void CRunCore::OnTimer(uintptr_t timerId) {
  if (timerId != kExtractTimerId || !mExtraction.TakeDone()) return;
  // Stopped first: the engine callback pumps messages, and a second tick must not start a second run.
  mView.StopTimer(kExtractTimerId);
  RunPatch();
}

void CRunCore::OnExtractFailed() {
  mView.StopTimer(kExtractTimerId);  // no extraction will signal any more
  EndRun(Ending::Failed()
             .WithBox(BoxOf(mTexts, IDS_EXTRACT_FAILED, kErrorMessage))
             .WithOutcome(OutcomeRestart)
             .WithMessage(Load(IDS_EXTRACT_FAILED)));
}

void CRunCore::StartUpdate() {
  // Retry enters the page again, which runs the whole sequence again from the archive check.
  if (mStart.StartUpdate() == CStartSequence::Step::Again) SetPage(mPage);
}

void CRunCore::RunPatch() {
  mSession.Run(PatchJob{mStart.ClientFolder(), mExtraction.DllPath(), mExtraction.PatchPath()});
}

void CRunCore::EndRun(const Ending& ending) {
  if (ending.box) mView.ShowBox(ending.box->text, ending.box->caption, ending.box->style);
  if (ending.outcome) mOutcome = *ending.outcome;
  if (ending.message) mMessage = *ending.message;
  if (ending.reportDetail) mReportDetail = *ending.reportDetail;
  if (ending.page != Ending::kSamePage) SetPage(ending.page);
}

Box BoxOf(Texts& texts, uint32_t stringId, uint32_t style) {
  if (style == kErrorMessage) {
    return Box{texts.Load(stringId), texts.Load(IDS_ERROR_CAPTION), box::kIconHand | box::kOk};
  }
  return Box{texts.Load(stringId), texts.Load(IDS_MESSAGE_CAPTION), style};
}

Ending Ending::FailedWithError(Texts& texts, uint32_t stringId, uint32_t outcome) {
  const Box shown = BoxOf(texts, stringId, kErrorMessage);
  return Failed().WithOutcome(outcome).WithMessage(shown.text).WithReportDetail(shown.text).WithBox(shown);
}

Ending Ending::DiskFull(Texts& texts, uint32_t needMB, uint32_t freeMB) {
  const std::wstring text = rules::FormatText(texts.Load(IDS_DISK_FULL), {needMB, freeMB});
  return Failed().WithBox(Box{text, L"", box::kIconHand}).WithOutcome(OutcomeNone).WithMessage(text);
}

int CRunCore::ShowMessage(uint32_t stringId, uint32_t style) {
  const Box shown = BoxOf(mTexts, stringId, style);
  return mView.ShowBox(shown.text, shown.caption, shown.style);
}

}  // namespace core
