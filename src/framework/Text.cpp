#include "framework/Text.h"

#include "framework/AppModule.h"

bool CString::LoadString(UINT id) {
  clear();
  // With a zero buffer size LoadStringW hands out the resource's own read-only text and its length,
  // so no string is ever cut at a fixed buffer size.
  const wchar_t* resource = nullptr;
  int length = ::LoadStringW(theModule.GetResourceInstance(), id, reinterpret_cast<LPWSTR>(&resource), 0);
  if (length <= 0 || resource == nullptr) return false;
  assign(resource, static_cast<size_t>(length));
  return true;
}

CString CString::Load(UINT id) {
  CString text;
  text.LoadString(id);
  return text;
}
