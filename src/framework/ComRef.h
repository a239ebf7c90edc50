#pragma once
// Owners of COM objects and strings: each releases what it holds when it goes.
#include <windows.h>
#include <oleauto.h>

#include <string>

// One COM reference, released by its owner.
template <typename T>
class CComRef {
 public:
  CComRef() = default;
  CComRef(const CComRef&) = delete;
  CComRef& operator=(const CComRef&) = delete;
  ~CComRef() {
    if (mPointer) mPointer->Release();
  }
  T* operator->() const { return mPointer; }
  T** Out() { return &mPointer; }
  void** OutVoid() { return reinterpret_cast<void**>(&mPointer); }
  explicit operator bool() const { return mPointer != nullptr; }

 private:
  T* mPointer = nullptr;
};

class CBstr {
 public:
  explicit CBstr(const std::wstring& text) : mText(::SysAllocStringLen(text.data(), text.size())) {}
  CBstr(const CBstr&) = delete;
  CBstr& operator=(const CBstr&) = delete;
  ~CBstr() { ::SysFreeString(mText); }
  BSTR Get() const { return mText; }

 private:
  BSTR mText;
};
