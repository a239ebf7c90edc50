#pragma once
// A progress bar shown from copies of its own painting. The patch run repaints the bars on the engine's
// thread many times a second, coming back to the same few positions (a file bar of small files moves
// through a handful), and some window systems take over a millisecond to paint one themed bar. A bar
// whose painting proves that slow is shown, at a position it has painted before, from a copy of that
// painting, made with WM_PRINTCLIENT: the same pixels without the theme's drawing. A bar that paints fast
// or animates itself is left to paint as it always does.
#include <windows.h>

#include <array>
#include <cstdint>

#include "framework/Handle.h"

class CBarPaintCache {
 public:
  // A bar whose first paintings each take at least this long is shown from copies.
  static constexpr uint32_t kSlowPaintUs = 250;

  explicit CBarPaintCache(uint32_t slowPaintUs = kSlowPaintUs) : mSlowPaintUs(slowPaintUs) {}
  CBarPaintCache(const CBarPaintCache&) = delete;
  CBarPaintCache& operator=(const CBarPaintCache&) = delete;
  ~CBarPaintCache() { Detach(); }

  bool Attach(HWND bar);
  void Detach();
  // How often the bar itself was asked to paint (each copy is one).
  int Renders() const { return mRenders; }
  bool ShowsCopies() const { return mMode == Mode::Copies; }

 private:
  enum class Mode { Deciding, Copies, Direct };
  // What a painting of the bar depends on.
  struct Shown {
    int low = 0;
    int high = 0;
    int position = 0;
    SIZE size{};
    bool operator==(const Shown& other) const {
      return low == other.low && high == other.high && position == other.position &&
             size.cx == other.size.cx && size.cy == other.size.cy;
    }
  };
  // The bar's painting of what it shows.
  struct Copy {
    Shown shown;
    CBitmap bitmap;
    uint32_t lastUse = 0;
  };
  static constexpr int kTrials = 3;

  static LRESULT CALLBACK BarProc(HWND bar, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Paint();
  // The copy of what the bar shows, painted by the bar now when there is none; null when no bitmap could
  // be made.
  Copy* Find(HDC dc, const Shown& shown);
  Copy* Render(HDC dc, const Shown& shown);
  void Forget();

  const uint32_t mSlowPaintUs;
  HWND mBar = nullptr;
  WNDPROC mBarProc = nullptr;  // the bar's own procedure
  Mode mMode = Mode::Deciding;
  int mTrialsFast = 0;
  int mTrials = 0;
  int mRenders = 0;
  uint32_t mUses = 0;
  std::array<Copy, 8> mCopies;
  CMemoryDC mDC;  // holds no copy between paintings
};
