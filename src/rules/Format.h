#pragma once
// printf-style filling of the installer's texts, the same on every platform: %s takes a text, %u, %d and
// %i an integer, %x a hexadecimal one ("%#x" with "0x" before it unless it is 0), %% a percent sign. A
// conversion without its argument is left out; anything else after '%' is copied as it stands.
#include <cstdint>
#include <initializer_list>
#include <string>

namespace rules {

class FormatArg {
 public:
  FormatArg(const std::wstring& text) : mText(text.c_str()) {}
  FormatArg(const wchar_t* text) : mText(text ? text : L"") {}
  FormatArg(uint32_t number) : mNumber(number) {}
  FormatArg(int32_t number) : mNumber(number) {}

  const wchar_t* Text() const { return mText; }  // null for a number
  int64_t Number() const { return mNumber; }

 private:
  const wchar_t* mText = nullptr;
  int64_t mNumber = 0;
};

std::wstring FormatText(const std::wstring& format, std::initializer_list<FormatArg> args = {});

}  // namespace rules
