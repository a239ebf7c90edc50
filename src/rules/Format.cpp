#include "rules/Format.h"

namespace rules {

namespace {

std::wstring Digits(uint64_t value, unsigned base) {
  const wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring digits;
  do {
    digits.insert(digits.begin(), kDigits[value % base]);
    value /= base;
  } while (value != 0);
  return digits;
}

// A number as %u, %d or %x shows it: %u and %x see the 32-bit pattern, %d the signed value.
std::wstring Number(const FormatArg& arg, wchar_t conversion, bool alternate) {
  const uint32_t bits = static_cast<uint32_t>(arg.Number());
  if (conversion == L'x') return (alternate && bits != 0 ? L"0x" : L"") + Digits(bits, 16);
  if (conversion == L'u') return Digits(bits, 10);
  const int64_t value = static_cast<int32_t>(bits);
  return value < 0 ? L"-" + Digits(static_cast<uint64_t>(-value), 10)
                   : Digits(static_cast<uint64_t>(value), 10);
}

}  // namespace

std::wstring FormatText(const std::wstring& format, std::initializer_list<FormatArg> args) {
  std::wstring out;
  out.reserve(format.size());
  const FormatArg* next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != L'%' || i + 1 == format.size()) {
      out += format[i];
      continue;
    }
    size_t k = i + 1;
    const bool alternate = format[k] == L'#';
    if (alternate && k + 1 < format.size()) ++k;
    const wchar_t conversion = format[k];
    if (conversion == L'%') {
      out += L'%';
      i = k;
      continue;
    }
    const bool isText = conversion == L's';
    const bool isNumber =
        conversion == L'u' || conversion == L'd' || conversion == L'i' || conversion == L'x';
    if (!isText && !isNumber) {
      out += format[i];
      continue;
    }
    i = k;
    if (next == args.end()) continue;
    const FormatArg& arg = *next++;
    if (isText) {
      out += arg.Text() ? arg.Text() : Number(arg, L'd', false);
    } else {
      out += Number(arg, conversion == L'i' ? L'd' : conversion, alternate);
    }
  }
  return out;
}

}  // namespace rules
