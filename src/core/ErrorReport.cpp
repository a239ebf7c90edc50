// The two ways a run hands over to another program: the failed page's web button opens an error report
// on the operator's site, and the finished page's button starts the client.
#include "core/RunCore.h"
#include "rules/Format.h"
#include "rules/Product.h"
#include "rules/Hex.h"

namespace core {

using namespace rules;

namespace {

// The detail goes into the address as it is, blanks included, except for what would end the query
// early, split it or change it on the way: control characters, '&', '#', '%', '"' and '+' (which a site
// reads as a blank) are percent-escaped.
std::wstring QueryValue(const std::wstring& text) {
  std::wstring value;
  for (wchar_t c : text) {
    if (c < 0x20 || c == 0x7F || c == L'&' || c == L'#' || c == L'%' || c == L'"' || c == L'+') {
      value += L'%';
      AppendHexByte(&value, static_cast<uint8_t>(c), true);
    } else {
      value += c;
    }
  }
  return value;
}

}  // namespace

std::wstring CRunCore::ReportAddress() const {
  return FormatText(
      L"%s?action=patcherror&do=%u&n=%i&from=%u&to=%u&err=%s%s",
      {rules::ReportAddress, mOutcome, static_cast<int32_t>(mStart.InstalledBuild()),
       static_cast<uint32_t>(mStart.FromVersion().build), static_cast<uint32_t>(mStart.ToVersion().build),
       QueryValue(mReportDetail), mStart.IsTestPatch() ? L"&test=1" : L""});
}

void CRunCore::ReportError() {
  mSystem.Open(ReportAddress());
  OnCancel(kCancelByFlow);
}

void CRunCore::OnLaunchClient() {
  mSystem.Open(FormatText(L"%s\\%s", {mStart.ClientFolder(), rules::ClientExecutables[0]}));
  OnCancel(kCancelByFlow);
}

}  // namespace core
