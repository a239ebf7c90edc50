#include "DialogFixture.h"

#include <vector>

void DialogTest::SetUp() {
  static bool initialised = false;
  if (!initialised) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    ::LoadLibraryW(L"RICHED32.DLL");
    theModule.Init(::GetModuleHandleW(nullptr));
    initialised = true;
  }
  theModule.AddMessageLoop(&mLoop);
  Open(mWin.Ports());
}

void DialogTest::Open(const RunPorts& ports) {
  mDlg.reset();
  mDlg = std::make_unique<CMainDlg>(ports);
  ASSERT_NE(mDlg->Create(nullptr, 0), nullptr);
  mDlg->ShowWindow(SW_SHOW);
  Pump();
}

void DialogTest::RunEngine(const std::function<void()>& during) {
  Open(FakePorts());
  if (during) {
    mMachine.onApply = [this, &during](EngineListener& listener) {
      mListener = &listener;
      mDlg->HoldOutput(false);
      ::SendDlgItemMessageW(mDlg->m_hWnd, IDC_DETAILS_LIST, LVM_DELETEALLITEMS, 0,
                            0);  // the engine's rows only
      during();
    };
  }
  mDlg->SetCommandLine(L"path=C:\\Games\\ZAV");
  mDlg->OnOK(BN_CLICKED, IDOK, nullptr);
  mDlg->OnTimer(kExtractTimerId);
  mMachine.onApply = nullptr;
}

void DialogTest::TearDown() {
  mDlg.reset();
  theModule.RemoveMessageLoop();
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

void DialogTest::Pump(DWORD ms) {
  DWORD start = ::GetTickCount();
  do {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) continue;
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    ::Sleep(5);
  } while (::GetTickCount() - start < ms);
}

std::wstring WindowText(HWND hwnd) {
  int length = ::GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(hwnd, &text[0], length + 1)));
  return text;
}

std::wstring BinDir() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir = path;
  return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

std::wstring DialogTest::Text(int id) const {
  return WindowText(::GetDlgItem(mDlg->m_hWnd, id));
}
std::wstring DialogTest::Caption() const {
  return WindowText(mDlg->m_hWnd);
}

namespace {

struct BoxSearch {
  DWORD process;
  HWND found;
};

BOOL CALLBACK FindBox(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  wchar_t cls[32] = {};
  ::GetClassNameW(hwnd, cls, 32);
  // A message box is a dialog with the static text 0xFFFF.
  if (pid == search->process && lstrcmpW(cls, L"#32770") == 0 && ::IsWindowVisible(hwnd) &&
      ::GetDlgItem(hwnd, 0xFFFF) != nullptr) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

BoxAnswerer::BoxAnswerer(int buttonId, DWORD timeoutMs) {
  mThread = std::thread([this, buttonId, timeoutMs] {
    DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < timeoutMs) {
      BoxSearch search{::GetCurrentProcessId(), nullptr};
      ::EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
      if (search.found != nullptr) {
        mBox.found = true;
        mBox.caption = WindowText(search.found);
        mBox.text = WindowText(::GetDlgItem(search.found, 0xFFFF));
        // The icon is a static with SS_ICON beside the text.
        for (HWND child = ::GetWindow(search.found, GW_CHILD); child;
             child = ::GetWindow(child, GW_HWNDNEXT)) {
          if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            HICON icon = reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0));
            mBox.hasErrorIcon = icon != nullptr && icon == ::LoadIconW(nullptr, IDI_HAND);
          }
        }
        ::PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(search.found, buttonId)));
        return;
      }
      ::Sleep(20);
    }
  });
}

BoxAnswerer::~BoxAnswerer() {
  if (mThread.joinable()) mThread.join();
}

AnsweredBox BoxAnswerer::Wait() {
  if (mThread.joinable()) mThread.join();
  return mBox;
}
