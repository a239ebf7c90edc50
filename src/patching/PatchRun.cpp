// The patch run on the dialog's thread: load the extracted engine, check its disk cost, apply the patch
// and follow the engine's notifications until it returns.
#include <cstdio>
#include <string>

#include "app/MainDlg.h"
#include "patching/ClientProbes.h"
#include "patching/EngineErrors.h"
#include "patching/PathRules.h"
#include "rules/EngineAbi.h"

namespace {

constexpr uint32_t kMegabyteShift = 20;

// The plain callback reaches the one dialog through this pointer; only the dialog's thread uses it.
CMainDlg* gRunningDialog = nullptr;

void* RTPATCH_CALL EngineCallback(uint32_t id, void* param) noexcept {
  return const_cast<char*>(gRunningDialog->OnEngineMessage(id, param));
}

CString EngineText(const void* param) {
  return Widen(param ? static_cast<const char*>(param) : "");
}

bool CarriesText(uint32_t id) {
  return id == 1 || id == 2 || id == 3 || id == 4 || id == 7 || id == 9;
}

}  // namespace

void CMainDlg::RunPatch() {
  CLibrary engine;
  if (!engine.Load(mDllPath.c_str())) {
    ShowMessage(IDS_ENGINE_LOAD_FAILED, 0);
    mMessage.LoadString(IDS_ENGINE_LOAD_FAILED);
    mOutcome = OutcomeSupport;
    mReportDetail = mMessage;
    SetPage(PageFailed);
    return;
  }
  auto apply = engine.Entry<rtp::ApplyFn>(rtp::kApplyEntry);
  const DWORD bindError = apply ? ERROR_SUCCESS : ::GetLastError();
  auto getCost = engine.Entry<rtp::GetCostFn>(rtp::kGetCostEntry);

  uint32_t biggestSz = 0, newSystemSz = 0, oldSystemSz = 0, numFiles = 0;
  if (getCost != nullptr) {
    getCost(mPatchPath.c_str(), &biggestSz, &newSystemSz, &oldSystemSz, &numFiles, 0);
    const uint32_t free = GetFreeDiskSpaceMB(mZavPath);
    const uint32_t need = biggestSz >> kMegabyteShift;
    // A free space of 0 means the query failed: the check is skipped then.
    if (need > free && need > 0 && free > 0) {
      CString text = CString::Formatted(CString::Load(IDS_DISK_FULL).c_str(), need, free);
      ::MessageBoxW(m_hWnd, text.c_str(), L"", MB_ICONHAND);
      mOutcome = OutcomeNone;
      mMessage = text;
      SetPage(PageFailed);
      return;
    }
  }

  if (apply == nullptr) {
    CString text =
        CString::Formatted(L"Very weird error! Error binding to dll, %d", static_cast<int>(bindError));
    ::MessageBoxW(m_hWnd, text.c_str(), L"", MB_ICONHAND);
    return;
  }

  // The engine takes the client folder and the patch path as one 8-bit line; the second path has an
  // opening quote only.
  std::string commandLine =
      TextToAnsi(CString::Formatted(L"\"%s\" \"%s", mZavPath.c_str(), mPatchPath.c_str()));
  if (commandLine.size() >= rtp::kCommandLineSize) {
    // The engine's buffer would hold a cut path: refuse instead of patching some other folder.
    ShowMessage(IDS_ENGINE_LOAD_FAILED, 0);
    mMessage.LoadString(IDS_ENGINE_LOAD_FAILED);
    mOutcome = OutcomeSupport;
    mReportDetail = L"Command line too long";
    SetPage(PageFailed);
    return;
  }
  char buffer[rtp::kCommandLineSize] = {};
  commandLine.copy(buffer, commandLine.size());

  gRunningDialog = this;
  SetPhaseStatusId(IDS_INSTALLING_PHASE);
  mCancelEvent.Attach(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  mAllFilesDone = false;
  mRestartNeeded = false;
  apply(buffer, EngineCallback, 1);
  mCancelEvent.Close();
  engine.Free();

  // Success is judged by the files the engine reached, not by what it returns.
  if (mAllFilesDone) {
    TouchFile(JoinPath(mZavPath, L"script\\compiled.code"));
    SetPage(PageFinished);
  }
}

const char* CMainDlg::OnEngineMessage(uint32_t id, void* param) {
  static const char kContinue[] = "";

  // The engine holds the dialog's thread: its queue is served here, so painting, Cancel and Details work.
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the message loop once the engine returns
      break;
    }
    if (!PreTranslateMessage(&msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  if (mCancelEvent && ::WaitForSingleObject(mCancelEvent.Get(), 0) == WAIT_OBJECT_0) return nullptr;

  if (param != nullptr && CarriesText(id)) {
    char trace[48];
    snprintf(trace, sizeof(trace), "id = %u (%#x), msg = ", id, id);
    ::OutputDebugStringA((trace + std::string(static_cast<const char*>(param)) + "\n").c_str());
  }

  switch (id) {
    case 1:
    case 2:
    case 4: {
      CString warning = CString::Formatted(L"Warning: %s", EngineText(param).c_str());
      AddDetail(warning);
      ::MessageBoxW(m_hWnd, warning.c_str(), warning.c_str(), MB_ICONHAND);
      break;
    }
    case 3: {
      mReportDetail = EngineText(param);
      CString userText = EngineErrorText(static_cast<const char*>(param), &mOutcome);
      mMessage = CString::Formatted(CString::Load(IDS_PATCH_FILE_ERROR).c_str(), mCurrentFile.c_str(),
                                    userText.c_str());
      ::MessageBoxW(m_hWnd, mMessage.c_str(), CString::Load(IDS_ERROR_CAPTION).c_str(), MB_ICONHAND);
      // Stops the run at the engine's next call; mMessage keeps the error.
      OnCancel(0, 0, nullptr);
      return kContinue;
    }
    case 5:
      if (param != nullptr) {
        const uint32_t value = *static_cast<const uint32_t*>(param);
        SetFileProgress(static_cast<int>(((value & 0xFFFF) * 100) / 32768));
      }
      break;
    case 6:
      if (param != nullptr) mFileCount = *static_cast<const uint32_t*>(param);
      break;
    case 7: {
      mFileNumber += 1;
      // The quotient first, then the percentage: 29 of 100 files shows 28.
      const double share = mFileCount == 0 ? 0.0 : static_cast<double>(mFileNumber) / mFileCount;
      SetTotalProgress(static_cast<int>(share * 100));
      mCurrentFile = EngineText(param);
      SetFileStatus(CString::Formatted(CString::Load(IDS_PROCESSING_FILE).c_str(), mFileNumber, mFileCount,
                                       mCurrentFile.c_str()));
      SetFileProgress(static_cast<int>((mFileNumber % 5) * 25));
      mAllFilesDone = mFileNumber >= mFileCount;
      break;
    }
    case 9:
      AddDetail(EngineText(param));
      break;
    case 26:
    case 28:
      mRestartNeeded = true;
      break;
    default:
      break;
  }
  return kContinue;
}
