#pragma once
// The one window of the installer. It shows what the install flow (core::CRunCore) reports and forwards the
// user's commands to it; the flow holds the run's state and decides everything. The machine's ports are
// handed in by whoever creates the dialog, and outlive it.
#include <windows.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "core/RunCore.h"
#include "dialog/Banner.h"
#include "dialog/BarPaintCache.h"
#include "framework/Dialog.h"
#include "framework/Handle.h"
#include "framework/Text.h"
#include "rules/resource.h"

// Private messages of the dialog.
constexpr UINT WM_EXTRACT_FAILED = WM_APP + 1;  // the extraction thread failed; the failure page follows
constexpr UINT WM_SHOW_BARS = WM_APP + 2;       // the extraction thread left new bar positions

class CMainDlg : public CAxDialogImpl<CMainDlg>,
                 public CUpdateUI<CMainDlg>,
                 public CMessageFilter,
                 public CIdleHandler,
                 public core::RunView {
 public:
  enum { IDD = IDD_MAINDLG };

  // A bar position not sent yet.
  static constexpr int kNotShown = INT_MIN;

  explicit CMainDlg(const core::RunPorts& ports) : mRun(*this, ports) {}
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
  LRESULT OnExtractFailed();
  LRESULT OnShowBars();
  void CloseDialog(int exitCode) override;

  // The flow's operations, under the names a reader looks for.
  void SetPage(int page) { mRun.SetPage(page); }
  void DeleteTempFiles() { mRun.DeleteTempFiles(); }
  void ReportError() { mRun.ReportError(); }
  int ShowMessage(UINT stringId, UINT style = core::kErrorMessage) {
    return mRun.ShowMessage(stringId, style);
  }
  // The installer's command line, handed in by the process entry before the window is shown.
  void SetCommandLine(std::wstring commandLine) { mRun.SetCommandLine(std::move(commandLine)); }
  // Ends the run as the flow's parts do: the box, the outcome and message, then the page.
  void EndRun(const core::Ending& ending) { mRun.EndRun(ending); }

  // What the dialog shows, for reading: the flow's state, the heading, the notes view and the banner.
  const core::CRunCore& Run() const { return mRun; }
  const CString& Title() const { return mTitle; }
  bool HasNotesView() const { return mNotesView.IsWindow() != FALSE; }
  const CBanner& Banner() const { return mBanner; }
  // The file bar's painting from copies; detached, the bar paints itself.
  CBarPaintCache& FileBarPaint() { return mFileBarPaint; }

  // Output operations; safe from the extraction thread and once the window is gone.
  int SetFileProgress(int percent) override;
  int SetTotalProgress(int percent) override;
  void SetFileStatus(const std::wstring& text) override;
  void SetPhaseStatus(const std::wstring& text) override;
  void SetPhaseStatusId(UINT stringId) { SetPhaseStatus(CString::Load(stringId)); }
  void AddDetail(const std::wstring& text) override;
  void SetTitle(CString text);
  void SetTitleId(UINT stringId);
  void SetItemTextId(int controlId, UINT stringId);

  // Pages: which controls each shows, the notes view and the versions.
  void ResetPage();
  void ShowPage(int page, int offerId) override;
  void ShowNotes(const std::wstring& notes) override;
  void ShowVersions(const std::wstring& line, const std::wstring& caption) override;

  // Questions, timers and the engine's hold on this thread.
  int ShowBox(const std::wstring& text, const std::wstring& caption, uint32_t style) override;
  int AskFolder(std::wstring* folder) override;
  void StartTimer(uint32_t id, uint32_t periodMs) override;
  void StopTimer(uint32_t id) override;
  void PostExtractionFailed() override;
  void HoldOutput(bool hold) override;
  void PumpMessages() override;

 private:
  // A progress bar as last sent (the extraction thread sends too).
  struct Bar {
    const int id;
    std::atomic<int> shown{kNotShown};
    // The newest position not shown yet (left by the extraction thread, or kept while the engine holds
    // the dialog's thread).
    std::atomic<int> posted{kNotShown};
    // Whether its range was set since the last page switch: nothing else sets another one.
    std::atomic<bool> ranged{false};
  };

  void LeaveMessageLoop();
  void DrawStaticTexts(HDC dc);
  void InvalidateControl(int controlId);

  int SetBar(Bar& bar, int percent);
  int ShowBar(Bar& bar, int position);
  void SetStatus(int id, std::wstring& shown, const std::wstring& text);
  // Forgets what the bars and status lines show, so the next value is sent whatever it is.
  void ForgetShownValues();
  // Shows what was kept while the engine held the thread; rows wait for their interval unless `all`.
  void ShowHeldOutput(bool all);
  void ShowHeldRows();
  void InsertRows(const std::vector<std::wstring>& rows);

  CString mTitle;
  CListViewCtrl mList;
  CRichEditCtrl mNotesView;
  CBanner mBanner;
  CBarPaintCache mFileBarPaint;
  CBarPaintCache mTotalBarPaint;

  core::CRunCore mRun;

  CFont mHeadingFont;
  CFont mTestMarkFont;
  // The static controls whose texts the paint draws, listed once: walking the children asks the window
  // system for each one, and the dialog paints at every pump while the engine runs.
  std::vector<HWND> mStatics;

  Bar mFileBar{IDC_FILE_PROGRESS};
  Bar mTotalBar{IDC_TOTAL_PROGRESS};
  // Whether the dialog's thread was asked to show the posted positions.
  std::atomic<bool> mBarsPosted{false};
  // What the status lines show, as last sent.
  std::mutex mShownStatusLock;
  std::wstring mShownFileStatus;
  std::wstring mShownPhaseStatus;
  // When the engine's notifications last served the queue.
  DWORD mLastPump = 0;
  // What the engine reported since the last pump, kept while it holds this thread.
  std::atomic<bool> mHolding{false};
  std::optional<std::wstring> mHeldFileStatus;
  std::optional<std::wstring> mHeldPhaseStatus;
  std::vector<std::wstring> mHeldRows;
  DWORD mLastRowsShown = 0;
  CIcon mBigIcon;
  CIcon mSmallIcon;
};
