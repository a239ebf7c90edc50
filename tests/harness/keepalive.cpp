// Keeps Wine's desktop process alive while the test suite runs.
//
// Wine ends its desktop process about ten seconds after the last window of the prefix has gone; every test
// program would then pay for bringing it up again. This program owns one hidden top-level window and pumps
// messages until it is killed (the harness starts it detached and kills it by process id).
#include <windows.h>

namespace {

constexpr wchar_t kClassName[] = L"TesserineKeepAlive";

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = kClassName;
  if (!RegisterClassW(&wc)) return 1;
  // Never shown: it only has to exist on the desktop.
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"", WS_OVERLAPPED, 0, 0, 1, 1, nullptr,
                                nullptr, instance, nullptr);
  if (!window) return 1;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  DestroyWindow(window);
  return 0;
}
