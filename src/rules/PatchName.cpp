#include "rules/PatchName.h"

#include <cstdint>

#include "rules/Decimal.h"
#include "rules/Product.h"

namespace rules {

namespace {

// The patch mark plus the separator after it, which is skipped by position and never examined.
const size_t kPrefixLength = 4;
const size_t kSuffixLength = 4;      // ".rtp"
const size_t kTestSuffixLength = 9;  // "_test.rtp"
const size_t kShortestName = 16;

int32_t DecimalValue(const std::wstring& text) {
  return ParseDecimal(text.data(), text.data() + text.size());
}

// Reads the number before the first '.' and leaves what follows it in *text. Without a '.' the number
// is 0 and the text stays whole for the next number.
int32_t TakeDottedNumber(std::wstring* text) {
  const size_t dot = text->find(L'.');
  if (dot == std::wstring::npos) return 0;
  const int32_t value = DecimalValue(text->substr(0, dot));
  text->erase(0, dot + 1);
  return value;
}

Version ParseVersionText(std::wstring text) {
  Version v;
  v.major = TakeDottedNumber(&text);
  v.minor = TakeDottedNumber(&text);
  v.build = DecimalValue(text);
  return v;
}

}  // namespace

bool IsPatchEntryName(const std::wstring& lowerName) {
  return lowerName.find(PatchMark) != std::wstring::npos;
}

bool ParsePatchName(const std::wstring& lowerName, Version* from, Version* to) {
  Version scratchFrom, scratchTo;
  if (!from) from = &scratchFrom;
  if (!to) to = &scratchTo;
  *from = Version();
  *to = Version();

  const size_t n = lowerName.size();
  if (n < kShortestName || lowerName.find(L'-') == std::wstring::npos) return false;
  const size_t p = lowerName.find(PatchMark);
  if (p == std::wstring::npos) return false;

  const size_t test = lowerName.find(L"_test");
  const size_t suffix = (test != std::wstring::npos && test > 0) ? kTestSuffixLength : kSuffixLength;
  // The version text runs from after the separator to the start of the suffix; when the two overlap
  // there is no version text at all.
  const size_t start = p + kPrefixLength;
  if (start + suffix >= n) return false;
  const std::wstring kept = lowerName.substr(start, n - suffix - start);

  const size_t dash = kept.find(L'-');
  if (dash == std::wstring::npos) {
    *from = ParseVersionText(kept);
  } else {
    *from = ParseVersionText(kept.substr(0, dash));
    *to = ParseVersionText(kept.substr(dash + 1));
  }
  return from->build != 0 && to->build != 0;
}

}  // namespace rules
