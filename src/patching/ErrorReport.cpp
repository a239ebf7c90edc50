// The two ways a run hands over to another program: the failed page's web button opens an error report
// on the operator's site, and the finished page's button starts the client.
#include "app/MainDlg.h"

#include <shellapi.h>

namespace {

// The operator's error-report page; the site decides from the query what to offer.
const wchar_t kReportAddress[] = L"https://update.lanxingji.example/patches/patches.asp";

// The detail goes into the address as it is, blanks included, except for what would end the query
// early or split it: control characters, '&', '#', '%' and '"' are percent-escaped.
std::wstring QueryValue(const std::wstring& text) {
  std::wstring value;
  for (wchar_t c : text) {
    if (c < 0x20 || c == 0x7F || c == L'&' || c == L'#' || c == L'%' || c == L'"') {
      wchar_t escaped[4];
      swprintf(escaped, 4, L"%%%02X", static_cast<unsigned>(c));
      value += escaped;
    } else {
      value += c;
    }
  }
  return value;
}

}  // namespace

LRESULT CMainDlg::OnWebLink(WORD, WORD, HWND) {
  ReportError();
  return 0;
}

void CMainDlg::ReportError() {
  CString address =
      CString::Formatted(L"%s?action=patcherror&do=%u&n=%i&from=%u&to=%u&err=%s%s", kReportAddress, mOutcome,
                         static_cast<int>(mInstalledBuild), static_cast<unsigned>(mFromVersion.build),
                         static_cast<unsigned>(mToVersion.build), QueryValue(mReportDetail).c_str(),
                         mTestPatch ? L"&test=1" : L"");
  ::ShellExecuteW(nullptr, nullptr, address.c_str(), L"", nullptr, SW_SHOWNORMAL);
  OnCancel(0, 0, nullptr);
}

LRESULT CMainDlg::OnLaunchClient(WORD, WORD, HWND) {
  CString client = CString::Formatted(L"%s\\zav.exe", mZavPath.c_str());
  ::ShellExecuteW(nullptr, nullptr, client.c_str(), L"", nullptr, SW_SHOWNORMAL);
  OnCancel(0, 0, nullptr);
  return 0;
}
