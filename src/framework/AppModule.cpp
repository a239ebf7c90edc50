#include "framework/AppModule.h"

#include <algorithm>

CAppModule theModule;

namespace {
template <typename T>
void Remove(std::vector<T*>& list, T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}
}  // namespace

void CMessageLoop::AddMessageFilter(CMessageFilter* filter) {
  mFilters.push_back(filter);
}
void CMessageLoop::RemoveMessageFilter(CMessageFilter* filter) {
  Remove(mFilters, filter);
}
void CMessageLoop::AddIdleHandler(CIdleHandler* handler) {
  mIdleHandlers.push_back(handler);
}
void CMessageLoop::RemoveIdleHandler(CIdleHandler* handler) {
  Remove(mIdleHandlers, handler);
}

BOOL CMessageLoop::PreTranslateMessage(MSG* msg) {
  // Newest first, and on a copy: a filter may unregister itself while it runs (its window closing).
  std::vector<CMessageFilter*> filters(mFilters.rbegin(), mFilters.rend());
  for (CMessageFilter* filter : filters) {
    if (filter->PreTranslateMessage(msg)) return TRUE;
  }
  return FALSE;
}

BOOL CMessageLoop::OnIdle() {
  std::vector<CIdleHandler*> handlers(mIdleHandlers);
  BOOL more = FALSE;
  for (CIdleHandler* handler : handlers) more |= handler->OnIdle();
  return more;
}

int CMessageLoop::Run() {
  MSG msg{};
  bool idle = true;
  for (;;) {
    while (idle && !::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!OnIdle()) idle = false;
    }
    BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) continue;  // an invalid window handle; nothing to dispatch
    if (!got) break;          // WM_QUIT
    if (!PreTranslateMessage(&msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    // Input and paint messages are what make new idle work worth asking for.
    switch (msg.message) {
      case WM_MOUSEMOVE:
      case WM_NCMOUSEMOVE:
      case WM_PAINT:
      case 0x0118:  // WM_SYSTIMER, the caret blink
        break;
      default:
        idle = true;
    }
  }
  return static_cast<int>(msg.wParam);
}

HRESULT CAppModule::Init(HINSTANCE instance) {
  mInstance = instance;
  return S_OK;
}

void CAppModule::Term() {
  mLoops.clear();
  mInstance = nullptr;
}

bool CAppModule::AddMessageLoop(CMessageLoop* loop) {
  DWORD thread = ::GetCurrentThreadId();
  if (GetMessageLoop(thread) != nullptr) return false;
  mLoops.push_back({thread, loop});
  return true;
}

bool CAppModule::RemoveMessageLoop() {
  DWORD thread = ::GetCurrentThreadId();
  auto it =
      std::find_if(mLoops.begin(), mLoops.end(), [&](const ThreadLoop& l) { return l.threadId == thread; });
  if (it == mLoops.end()) return false;
  mLoops.erase(it);
  return true;
}

CMessageLoop* CAppModule::GetMessageLoop(DWORD threadId) const {
  for (const ThreadLoop& l : mLoops) {
    if (l.threadId == threadId) return l.loop;
  }
  return nullptr;
}

bool AtlAxWinInit() {
  bool ok = true;
  for (const wchar_t* name : {L"AtlAxWin80", L"AtlAxWinLic80"}) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_GLOBALCLASS | CS_DBLCLKS;
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = theModule.GetModuleInstance();
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) ok = false;
  }
  return ok;
}
