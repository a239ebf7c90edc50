#include "app/MainDlg.h"

CMainDlg::~CMainDlg() {
  // The extraction thread uses this object until it has stopped.
  StopExtraction();
  ReleaseBanner();
  LeaveMessageLoop();
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
  HICON big = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                              ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON),
                                              LR_DEFAULTCOLOR));
  SetIcon(big, TRUE);
  HICON small = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                                ::GetSystemMetrics(SM_CXSMICON),
                                                ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  SetIcon(small, FALSE);

  CMessageLoop* loop = theModule.GetMessageLoop();
  if (loop != nullptr) {
    loop->AddMessageFilter(this);
    loop->AddIdleHandler(this);
  }
  UIAddChildWindowContainer(m_hWnd);

  mList.Attach(GetDlgItem(IDC_DETAILS_LIST));
  mList.SetExtendedListViewStyle(LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP,
                                 LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP);
  mList.InsertColumn(0, L"", LVCFMT_LEFT, -1, 0);
  RECT listRect{};
  mList.GetClientRect(&listRect);
  mList.SetColumnWidth(0, listRect.right - listRect.left - 20);

  mCancelEvent.Close();
  mInstalledBuild = 0;
  mFileNumber = 0;
  mFileCount = 0;
  mAllFilesDone = false;
  mRestartNeeded = false;
  mTestPatch = false;

  SetPage(PageWelcome);
  return 1;
}

LRESULT CMainDlg::OnTimer(UINT_PTR timerId) {
  if (timerId != kExtractTimerId || !mExtractDone) return 0;
  if (::WaitForSingleObject(mExtractDone.Get(), 0) != WAIT_OBJECT_0) return 0;
  // Killed first: the engine callback pumps messages, and a second tick must not start a second run.
  KillTimer(kExtractTimerId);
  RunPatch();
  return 0;
}

LRESULT CMainDlg::OnOK(WORD, WORD, HWND) {
  SetPage(mPage + 1);
  return 0;
}

LRESULT CMainDlg::OnCancel(WORD, WORD id, HWND) {
  if (mCancelEvent) {
    ::SetEvent(mCancelEvent.Get());
    if (id != 0) mMessage.LoadString(IDS_CANCELLED);
    SetPage(PageFailed);
  } else {
    CloseDialog(id);
  }
  return 0;
}

LRESULT CMainDlg::OnDetails(WORD, WORD, HWND) {
  ::ShowWindow(GetDlgItem(IDC_DETAILS), SW_HIDE);
  ::ShowWindow(GetDlgItem(IDC_FILE_PROGRESS), SW_HIDE);
  ::ShowWindow(GetDlgItem(IDC_DETAILS_LIST), SW_SHOW);
  return 0;
}

void CMainDlg::ReleaseBanner() {
  if (mBannerDC != nullptr) {
    if (mBannerOldBitmap != nullptr) ::SelectObject(mBannerDC, mBannerOldBitmap);
    ::DeleteDC(mBannerDC);
    mBannerOldBitmap = nullptr;
    mBannerDC = nullptr;
  }
  if (mBanner != nullptr) {
    ::DeleteObject(mBanner);
    mBanner = nullptr;
  }
}

void CMainDlg::CloseDialog(int exitCode) {
  ReleaseBanner();
  LeaveMessageLoop();
  DestroyWindow();
  ::PostQuitMessage(exitCode);
  // The extraction thread still writes into the temporary folder until it has stopped.
  StopExtraction();
  DeleteTempFiles();
}
