#include "dialog/BarPaintCache.h"

#include <commctrl.h>

namespace {

int64_t Microseconds() {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER count;
  ::QueryPerformanceCounter(&count);
  return count.QuadPart / frequency * 1000000 + count.QuadPart % frequency * 1000000 / frequency;
}

}  // namespace

bool CBarPaintCache::Attach(HWND bar) {
  Detach();
  // A plain window procedure, with the cache in the bar's user data: under Wine the subclassing helpers
  // keep theirs in a window property, a trip to the server on every message.
  ::SetWindowLongPtrW(bar, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  mBarProc =
      reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(BarProc)));
  if (mBarProc == nullptr) return false;
  mBar = bar;
  mMode = Mode::Deciding;
  mTrials = mTrialsFast = 0;
  return true;
}

void CBarPaintCache::Detach() {
  // Only while this cache is the bar's procedure: a procedure put over it keeps calling it.
  if (mBar != nullptr && ::GetWindowLongPtrW(mBar, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(BarProc)) {
    ::SetWindowLongPtrW(mBar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(mBarProc));
    ::SetWindowLongPtrW(mBar, GWLP_USERDATA, 0);
  }
  mBar = nullptr;
  Forget();
}

void CBarPaintCache::Forget() {
  for (Copy& copy : mCopies) copy.bitmap.Attach(nullptr);
}

LRESULT CALLBACK CBarPaintCache::BarProc(HWND bar, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* cache = reinterpret_cast<CBarPaintCache*>(::GetWindowLongPtrW(bar, GWLP_USERDATA));
  const WNDPROC barProc = cache->mBarProc;
  switch (msg) {
    case WM_PAINT:
      if (cache->mMode != Mode::Direct) return cache->Paint();
      break;
    case WM_ERASEBKGND:
      if (cache->mMode != Mode::Direct) return 1;  // the painting covers the whole bar
      break;
    case WM_TIMER:
      // A bar that runs a timer animates itself (the themed bars of Windows do): copies would stop it.
      cache->mMode = Mode::Direct;
      cache->Forget();
      break;
    // What else changes the bar's look makes every copy stale.
    case WM_THEMECHANGED:
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
    case WM_ENABLE:
    case WM_STYLECHANGED:
    case PBM_SETBARCOLOR:
    case PBM_SETBKCOLOR:
    case PBM_SETSTATE:
      cache->Forget();
      break;
    case WM_NCDESTROY:
      cache->Detach();
      break;
    default:
      break;
  }
  return ::CallWindowProcW(barProc, bar, msg, wParam, lParam);
}

LRESULT CBarPaintCache::Paint() {
  PAINTSTRUCT ps{};
  HDC dc = ::BeginPaint(mBar, &ps);
  RECT client{};
  ::GetClientRect(mBar, &client);
  const SIZE size{client.right, client.bottom};
  PBRANGE range{};
  ::SendMessageW(mBar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  const Shown shown{range.iLow, range.iHigh, static_cast<int>(::SendMessageW(mBar, PBM_GETPOS, 0, 0)), size};
  const Copy* copy = Find(dc, shown);
  if (copy != nullptr) {
    const HGDIOBJ old = ::SelectObject(mDC.Get(), copy->bitmap.Get());
    ::BitBlt(dc, 0, 0, size.cx, size.cy, mDC.Get(), 0, 0, SRCCOPY);
    ::SelectObject(mDC.Get(), old);
  } else {
    ::CallWindowProcW(mBarProc, mBar, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  }
  if (mMode == Mode::Direct) Forget();  // the bar paints itself from now on
  ::EndPaint(mBar, &ps);
  return 0;
}

CBarPaintCache::Copy* CBarPaintCache::Find(HDC dc, const Shown& shown) {
  mUses += 1;
  if (mMode == Mode::Copies) {
    for (Copy& copy : mCopies) {
      if (copy.bitmap.Get() != nullptr && copy.shown == shown) {
        copy.lastUse = mUses;
        return &copy;
      }
    }
  }
  const int64_t start = Microseconds();
  Copy* copy = Render(dc, shown);
  if (mMode == Mode::Deciding && copy != nullptr) {
    mTrials += 1;
    if (Microseconds() - start < mSlowPaintUs) mTrialsFast += 1;
    // Copies only for a bar that was slow every time: a first painting may be slow anywhere.
    if (mTrials == kTrials) mMode = mTrialsFast == 0 ? Mode::Copies : Mode::Direct;
  }
  return copy;
}

CBarPaintCache::Copy* CBarPaintCache::Render(HDC dc, const Shown& shown) {
  if (mDC.Get() == nullptr) mDC.Attach(::CreateCompatibleDC(dc));
  Copy* oldest = &mCopies[0];
  for (Copy& copy : mCopies) {
    if (copy.bitmap.Get() == nullptr || copy.lastUse < oldest->lastUse) oldest = &copy;
    if (copy.bitmap.Get() == nullptr) break;
  }
  oldest->bitmap.Attach(nullptr);
  if (mDC.Get() == nullptr || shown.size.cx <= 0 || shown.size.cy <= 0) return nullptr;
  oldest->bitmap.Attach(::CreateCompatibleBitmap(dc, shown.size.cx, shown.size.cy));
  if (oldest->bitmap.Get() == nullptr) return nullptr;
  oldest->shown = shown;
  oldest->lastUse = mUses;
  const HGDIOBJ old = ::SelectObject(mDC.Get(), oldest->bitmap.Get());
  ::CallWindowProcW(mBarProc, mBar, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mDC.Get()), PRF_CLIENT);
  ::SelectObject(mDC.Get(), old);
  mRenders += 1;
  return oldest;
}
