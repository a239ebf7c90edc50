// A stand-in for the running game client: a hidden top-level window of the client's class
// "kreluiScreen". The first argument is how many close requests it ignores before it closes (default 0).
// Its title counts the close requests it has received ("closes:N"), so a test can read them.
// It ends by itself after kLifetimeMs whatever happens, so a failed test leaves nothing behind.
#include <windows.h>

#include <cwchar>
#include <cstdio>

namespace {

const UINT_PTR kLifetimeTimer = 1;
const UINT kLifetimeMs = 30000;
// Exit codes: 0 closed on request, 3 ended by its lifetime.
const int kExitLifetime = 3;

long gIgnoreCloses = 0;
long gCloses = 0;

LRESULT CALLBACK ClientProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE: {
      ++gCloses;
      wchar_t title[32];
      swprintf(title, 32, L"closes:%ld", gCloses);
      ::SetWindowTextW(hwnd, title);
      if (gCloses > gIgnoreCloses) ::DestroyWindow(hwnd);
      return 0;
    }
    case WM_TIMER:
      if (wParam == kLifetimeTimer) {
        ::KillTimer(hwnd, kLifetimeTimer);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, kExitLifetime);
        ::DestroyWindow(hwnd);
      }
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(static_cast<int>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA)));
      return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR cmdLine, int) {
  gIgnoreCloses = std::wcstol(cmdLine, nullptr, 10);

  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = ClientProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"kreluiScreen";
  if (!::RegisterClassW(&windowClass)) return 1;
  HWND hwnd = ::CreateWindowExW(0, L"kreluiScreen", L"closes:0", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                nullptr, instance, nullptr);
  if (hwnd == nullptr) return 1;
  ::SetTimer(hwnd, kLifetimeTimer, kLifetimeMs, nullptr);

  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}
