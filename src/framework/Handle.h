#pragma once
// Owners of user and GDI objects this program made (an icon from the resources, a font or a bitmap for
// painting, a memory DC), beside the kernel's owners of winbase/Handle.h.
#include <windows.h>

#include "winbase/Handle.h"

inline void DestroyOwnedIcon(HICON icon) {
  ::DestroyIcon(icon);
}
inline void DeleteOwnedFont(HFONT font) {
  ::DeleteObject(font);
}
inline void DeleteOwnedBitmap(HBITMAP bitmap) {
  ::DeleteObject(bitmap);
}
inline void DeleteOwnedDC(HDC dc) {
  ::DeleteDC(dc);
}
using CIcon = COwned<HICON, DestroyOwnedIcon>;
using CFont = COwned<HFONT, DeleteOwnedFont>;
using CBitmap = COwned<HBITMAP, DeleteOwnedBitmap>;
using CMemoryDC = COwned<HDC, DeleteOwnedDC>;

// Puts a device context's selected object back when it goes out of scope.
class CSelectedObject {
 public:
  CSelectedObject(HDC dc, HGDIOBJ object)
      : mDC(dc), mPrevious(object ? ::SelectObject(dc, object) : nullptr) {}
  ~CSelectedObject() {
    if (mPrevious) ::SelectObject(mDC, mPrevious);
  }
  CSelectedObject(const CSelectedObject&) = delete;
  CSelectedObject& operator=(const CSelectedObject&) = delete;

 private:
  HDC mDC;
  HGDIOBJ mPrevious;
};
