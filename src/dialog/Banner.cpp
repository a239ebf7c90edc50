#include "dialog/Banner.h"

#include "framework/AppModule.h"
#include "rules/resource.h"

void CBanner::Draw(HDC dc) {
  if (!mTried) {
    mTried = true;
    mBitmap = static_cast<HBITMAP>(::LoadImageW(theModule.GetResourceInstance(), MAKEINTRESOURCEW(IDB_BANNER),
                                                IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    if (mBitmap != nullptr) mDC = ::CreateCompatibleDC(dc);
    if (mDC != nullptr) mOldBitmap = ::SelectObject(mDC, mBitmap);
    BITMAP info{};
    if (mBitmap != nullptr && ::GetObjectW(mBitmap, sizeof(info), &info))
      mSize = {info.bmWidth, info.bmHeight};
  }
  if (mDC != nullptr) ::BitBlt(dc, 0, 0, mSize.cx, mSize.cy, mDC, 0, 0, SRCCOPY);
}

void CBanner::Release() {
  if (mDC != nullptr) {
    if (mOldBitmap != nullptr) ::SelectObject(mDC, mOldBitmap);
    ::DeleteDC(mDC);
    mOldBitmap = nullptr;
    mDC = nullptr;
  }
  if (mBitmap != nullptr) {
    ::DeleteObject(mBitmap);
    mBitmap = nullptr;
  }
}
