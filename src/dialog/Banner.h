#pragma once
// The banner at the dialog's top left: the bitmap resource, loaded at the first paint and kept selected
// into a memory DC of its own, from which every paint copies it (painting is frequent during a run).
#include <windows.h>

class CBanner {
 public:
  CBanner() = default;
  CBanner(const CBanner&) = delete;
  CBanner& operator=(const CBanner&) = delete;
  ~CBanner() { Release(); }

  // Copies the banner to the top left of `dc` at its own size. The first call loads it; when it cannot be
  // loaded, the paint goes on without it and does not try again.
  void Draw(HDC dc);
  // Frees the bitmap and its DC; nothing is loaded again.
  void Release();

  HBITMAP Bitmap() const { return mBitmap; }
  HDC DC() const { return mDC; }
  SIZE Size() const { return mSize; }

 private:
  HBITMAP mBitmap = nullptr;
  SIZE mSize{0, 0};
  HDC mDC = nullptr;
  HGDIOBJ mOldBitmap = nullptr;  // what mDC held before the banner, put back before deleting it
  bool mTried = false;
};
