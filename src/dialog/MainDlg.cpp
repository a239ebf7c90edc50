#include "dialog/MainDlg.h"

#include "dialog/SetPath.h"

using namespace core;

namespace {

constexpr DWORD kPumpIntervalMs = 30;

}  // namespace

// The flow asks its questions with the window system's own styles and answers.
static_assert(box::kYesNoCancel == MB_YESNOCANCEL && box::kYesNo == MB_YESNO &&
              box::kRetryCancel == MB_RETRYCANCEL && box::kIconHand == MB_ICONHAND &&
              box::kIconExclamation == MB_ICONEXCLAMATION && box::kIconInformation == MB_ICONINFORMATION);
static_assert(box::kAnswerOk == IDOK && box::kAnswerCancel == IDCANCEL && box::kAnswerRetry == IDRETRY &&
              box::kAnswerYes == IDYES && box::kAnswerNo == IDNO);

CMainDlg::~CMainDlg() {
  // The extraction thread reports to this window until it has stopped.
  mRun.StopExtraction();
  mBanner.Release();
  LeaveMessageLoop();
  if (IsWindow()) DestroyWindow();  // before the icons it shows are destroyed
}

void CMainDlg::LeaveMessageLoop() {
  if (CMessageLoop* loop = theModule.GetMessageLoop()) {
    loop->RemoveMessageFilter(this);
    loop->RemoveIdleHandler(this);
  }
}

BOOL CMainDlg::PreTranslateMessage(MSG* msg) {
  return ::IsDialogMessageW(m_hWnd, msg);
}

BOOL CMainDlg::OnIdle() {
  return FALSE;
}

bool CMainDlg::ProcessWindowMessage(HWND, UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
  switch (msg) {
    case WM_INITDIALOG:
      result = OnInitDialog();
      return true;
    case WM_PAINT:
      result = OnPaint();
      return true;
    case WM_ERASEBKGND:
      result = OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
      return true;
    case WM_TIMER:
      result = OnTimer(static_cast<UINT_PTR>(wParam));
      return true;
    case WM_EXTRACT_FAILED:
      result = OnExtractFailed();
      return true;
    case WM_SHOW_BARS:
      result = OnShowBars();
      return true;
    case WM_COMMAND: {
      WORD code = HIWORD(wParam);
      WORD id = LOWORD(wParam);
      HWND control = reinterpret_cast<HWND>(0);
      switch (id) {
        case IDOK:
          result = OnOK(code, id, control);
          return true;
        case IDCANCEL:
          result = OnCancel(code, id, control);
          return true;
        case IDC_LAUNCH:
          result = OnLaunchClient(code, id, control);
          return true;
        case IDC_DETAILS:
          result = OnDetails(code, id, control);
          return true;
        case IDC_GET_CLIENT:
        case IDC_GET_PATCH:
        case IDC_SUPPORT:
          result = OnWebLink(code, id, control);
          return true;
      }
      return false;
    }
  }
  return false;
}

LRESULT CMainDlg::OnInitDialog() {
  CenterWindow();

  HINSTANCE instance = theModule.GetResourceInstance();
  mBigIcon.Attach(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                                  ::GetSystemMetrics(SM_CXICON),
                                                  ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR)));
  SetIcon(mBigIcon.Get(), TRUE);
  mSmallIcon.Attach(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                                    ::GetSystemMetrics(SM_CXSMICON),
                                                    ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR)));
  SetIcon(mSmallIcon.Get(), FALSE);

  CMessageLoop* loop = theModule.GetMessageLoop();
  if (loop != nullptr) {
    loop->AddMessageFilter(this);
    loop->AddIdleHandler(this);
  }
  UIAddChildWindowContainer(m_hWnd);
  mFileBarPaint.Attach(GetDlgItem(IDC_FILE_PROGRESS));
  mTotalBarPaint.Attach(GetDlgItem(IDC_TOTAL_PROGRESS));

  mList.Attach(GetDlgItem(IDC_DETAILS_LIST));
  mList.SetExtendedListViewStyle(LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP,
                                 LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP);
  mList.InsertColumn(0, L"", LVCFMT_LEFT, -1, 0);
  RECT listRect{};
  mList.GetClientRect(&listRect);
  mList.SetColumnWidth(0, listRect.right - listRect.left - 20);

  SetPage(PageWelcome);
  return 1;
}

LRESULT CMainDlg::OnTimer(UINT_PTR timerId) {
  mRun.OnTimer(timerId);
  return 0;
}

LRESULT CMainDlg::OnOK(WORD, WORD, HWND) {
  mRun.OnOK();
  return 0;
}

LRESULT CMainDlg::OnCancel(WORD, WORD id, HWND) {
  mRun.OnCancel(id);
  return 0;
}

LRESULT CMainDlg::OnLaunchClient(WORD, WORD, HWND) {
  mRun.OnLaunchClient();
  return 0;
}

LRESULT CMainDlg::OnWebLink(WORD, WORD, HWND) {
  ReportError();
  return 0;
}

LRESULT CMainDlg::OnExtractFailed() {
  mRun.OnExtractFailed();
  return 0;
}

LRESULT CMainDlg::OnDetails(WORD, WORD, HWND) {
  ShowHeldRows();  // the list shows every event so far when it appears
  ::ShowWindow(GetDlgItem(IDC_DETAILS), SW_HIDE);
  ::ShowWindow(GetDlgItem(IDC_FILE_PROGRESS), SW_HIDE);
  ::ShowWindow(GetDlgItem(IDC_DETAILS_LIST), SW_SHOW);
  return 0;
}

void CMainDlg::CloseDialog(int exitCode) {
  // The extraction thread reports to this window and writes into the temporary folder: it stops first.
  mRun.StopExtraction();
  mBanner.Release();
  LeaveMessageLoop();
  DestroyWindow();
  mBigIcon.Attach(nullptr);  // the window no longer shows them
  mSmallIcon.Attach(nullptr);
  ::PostQuitMessage(exitCode);
  DeleteTempFiles();
}

int CMainDlg::ShowBox(const std::wstring& text, const std::wstring& caption, uint32_t style) {
  ShowHeldOutput(true);  // the box stands in front of what has happened so far
  return ::MessageBoxW(IsWindow() ? m_hWnd : nullptr, text.c_str(), caption.c_str(), style);
}

int CMainDlg::AskFolder(std::wstring* folder) {
  SetPath ask;
  const int result = static_cast<int>(ask.DoModal(*folder));
  *folder = ask.mPath;
  return result;
}

void CMainDlg::StartTimer(uint32_t id, uint32_t periodMs) {
  SetTimer(id, periodMs);
}

void CMainDlg::StopTimer(uint32_t id) {
  KillTimer(id);
}

void CMainDlg::PostExtractionFailed() {
  PostMessage(WM_EXTRACT_FAILED);
}

void CMainDlg::PumpMessages() {
  // Serving the queue is a trip to the window system even when it is empty, and each one paints what the
  // last notifications changed: the engine's notifications serve it when kPumpIntervalMs have passed
  // since it was last served, which keeps Cancel, Details and painting within reach while the engine
  // runs at full speed.
  if (::GetTickCount() - mLastPump < kPumpIntervalMs) return;
  ShowHeldOutput(false);
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
  mLastPump = ::GetTickCount();
}
