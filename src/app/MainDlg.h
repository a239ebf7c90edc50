#pragma once
// The one window of the installer and the owner of the whole state of a patch run.
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "archive/EmbedFs.h"
#include "framework/Dialog.h"
#include "framework/Handle.h"
#include "framework/Text.h"
#include "patching/Version.h"
#include "ui/Outcome.h"
#include "ui/resource.h"

// Process exit codes.
constexpr int kExitDone = 0;
constexpr int kExitCancelled = IDCANCEL;  // 2: Cancel, End, Escape or the close box

// Private messages of the dialog.
constexpr UINT WM_EXTRACT_FAILED = WM_APP + 1;  // the extraction thread failed; the failure page follows

// Timer that polls for the end of extraction.
constexpr UINT_PTR kExtractTimerId = 100;
constexpr UINT kExtractTimerPeriodMs = 100;

class CMainDlg : public CAxDialogImpl<CMainDlg>,
                 public CUpdateUI<CMainDlg>,
                 public CMessageFilter,
                 public CIdleHandler {
 public:
  enum { IDD = IDD_MAINDLG };

  CMainDlg() = default;
  ~CMainDlg() override;

  BOOL PreTranslateMessage(MSG* msg) override;
  BOOL OnIdle() override;
  bool ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  // Message and command handlers.
  LRESULT OnInitDialog();
  LRESULT OnPaint();
  LRESULT OnEraseBkgnd(HDC dc);
  LRESULT OnTimer(UINT_PTR timerId);
  LRESULT OnOK(WORD notifyCode, WORD id, HWND control);
  LRESULT OnCancel(WORD notifyCode, WORD id, HWND control);
  LRESULT OnLaunchClient(WORD notifyCode, WORD id, HWND control);
  LRESULT OnDetails(WORD notifyCode, WORD id, HWND control);
  LRESULT OnWebLink(WORD notifyCode, WORD id, HWND control);
  void CloseDialog(int exitCode);

  // Pages and outcomes.
  void SetPage(int page);
  void ResetPage();

  // Output operations; safe from the extraction thread and once the window is gone.
  int SetFileProgress(int percent);
  int SetTotalProgress(int percent);
  void SetFileStatus(CString text);
  void SetPhaseStatusId(UINT stringId);
  void AddDetail(CString text);
  void SetTitle(CString text);
  void SetTitleId(UINT stringId);
  void SetItemTextId(int controlId, UINT stringId);
  int ShowMessage(UINT stringId, UINT style = 0);

  // Start sequence.
  bool CheckArchive();
  bool ParsePatchVersions();
  void StartUpdate();

  // Patch notes on the welcome page.
  void ShowPatchNotes();

  // Client folder probes that need the dialog's state.
  uint32_t ReadInstalledBuild(const wchar_t* fileName);

  // Temporary extraction, on a thread of its own.
  bool StartExtraction();
  void StopExtraction();
  void ExtractAll();
  CString ExtractEntry(const std::wstring& name, uint64_t base, uint64_t total);
  LRESULT OnExtractFailed();
  void DeleteTempFiles();

  // The patch run on the dialog's thread, and the engine's notifications during it.
  void RunPatch();
  const char* OnEngineMessage(uint32_t id, void* param);

  // Error report and client launch.
  void ReportError();

  CString mCmdLine;
  CHandle mExtractDone;
  CHandle mCancelEvent;
  bool mAllFilesDone = false;
  uint32_t mFileCount = 0;
  uint32_t mFileNumber = 0;
  CString mTitle;
  CString mZavPath;
  CString mTempDir;
  CString mDllPath;
  CString mPatchPath;
  CListViewCtrl mList;
  CRichEditCtrl mNotesView;
  HBITMAP mBanner = nullptr;
  SIZE mBannerSize{0, 0};
  HDC mBannerDC = nullptr;
  int32_t mPage = 0;
  CEmbedFs mArchive;
  CString mMessage;
  uint32_t mOutcome = OutcomeNone;
  CString mHint;
  CString mReportDetail;
  bool mRestartNeeded = false;
  CString mCurrentFile;
  uint32_t mInstalledBuild = 0;
  bool mTestPatch = false;
  CString mNotesName;
  Version mFromVersion;
  Version mToVersion;

  // The extraction thread, kept so that closing can stop it and wait before its files go away.
  CHandle mExtractThread;
  std::atomic<bool> mStopExtraction{false};

 private:
  void ReleaseBanner();
  void LeaveMessageLoop();
  static unsigned __stdcall ExtractThreadProc(void* dialog) noexcept;

  HGDIOBJ mBannerOldBitmap = nullptr;  // what mBannerDC held before the banner, put back before deleting
  void DrawStaticTexts(HDC dc);
  void InvalidateControl(int controlId);
};
