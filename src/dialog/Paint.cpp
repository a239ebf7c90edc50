// The dialog paints most of its face itself: background band, banner, test mark, heading, the texts of
// its statics (the status lines are never visible as windows) and the result message with its hint.
#include "core/PageTable.h"
#include "dialog/MainDlg.h"

using namespace core;

namespace {

constexpr int kBandHeight = 53;  // the button-coloured band at the bottom
constexpr int kTextLeft = 180;   // texts start right of the banner
constexpr int kTextRightMargin = 20;
constexpr int kHeadingTop = 12;
constexpr int kMessageTop = 120;
constexpr int kHintOffset = 80;  // the hint starts 80 pixels below the message's top

void DrawTestMark(HDC dc, CFont& font) {
  if (font.Get() == nullptr) {
    font.Attach(::CreateFontW(28, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, 0, 0, 0, ANTIALIASED_QUALITY, 0x10,
                              L"Arial"));
  }
  CSelectedObject selected(dc, font.Get());
  int oldMode = ::SetBkMode(dc, TRANSPARENT);
  COLORREF oldColour = ::SetTextColor(dc, RGB(0, 255, 0));
  CString mark = CString::Load(IDS_TEST_MARK);
  ::TextOutW(dc, 6, 0, mark.c_str(), static_cast<int>(mark.size()));
  ::SetTextColor(dc, oldColour);
  ::SetBkMode(dc, oldMode);
}

}  // namespace

LRESULT CMainDlg::OnEraseBkgnd(HDC dc) {
  RECT client{};
  GetClientRect(&client);
  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_WINDOW));
  RECT band = client;
  band.top = client.bottom - kBandHeight;
  ::FillRect(dc, &band, ::GetSysColorBrush(COLOR_BTNFACE));
  return 0;
}

void CMainDlg::DrawStaticTexts(HDC dc) {
  if (mStatics.empty()) {
    for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
      wchar_t className[256] = {};
      ::GetClassNameW(child, className, 256);
      if (::lstrcmpiW(className, L"static") == 0) mStatics.push_back(child);
    }
  }
  for (HWND child : mStatics) {
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ScreenToClient(&rect);
    if (!::RectVisible(dc, &rect)) continue;  // outside what this paint updates
    wchar_t text[255] = {};
    int length = ::GetWindowTextW(child, text, 255);
    ::DrawTextW(dc, text, length, &rect, 0);
  }
}

LRESULT CMainDlg::OnPaint() {
  PAINTSTRUCT ps{};
  HDC dc = ::BeginPaint(m_hWnd, &ps);

  mBanner.Draw(dc);

  if (mRun.IsTestPatch()) DrawTestMark(dc, mTestMarkFont);

  RECT client{};
  GetClientRect(&client);
  if (!mTitle.empty()) {
    RECT rect = client;
    rect.left += kTextLeft;
    rect.top += kHeadingTop;
    rect.right -= kTextRightMargin;
    // Made on the first paint that needs it and kept: painting is frequent during a run.
    if (mHeadingFont.Get() == nullptr) {
      mHeadingFont.Attach(::CreateFontW(20, 0, 0, 0, FW_BOLD, 0, 0, 0, 0, 0, 0, 0, 0, L"Arial"));
    }
    CSelectedObject selected(dc, mHeadingFont.Get());
    ::DrawTextW(dc, mTitle.c_str(), static_cast<int>(mTitle.size()), &rect, DT_WORDBREAK);
  }

  {
    CSelectedObject selected(dc, ::GetStockObject(ANSI_VAR_FONT));
    DrawStaticTexts(dc);
    const PageLook* look = LookOf(mRun.Page());
    if (!mRun.Message().empty() && look && look->result) {
      RECT rect = client;
      rect.left += kTextLeft;
      rect.top += kMessageTop;
      rect.right -= kTextRightMargin;
      ::DrawTextW(dc, mRun.Message().c_str(), static_cast<int>(mRun.Message().size()), &rect, DT_WORDBREAK);
      rect.top += kHintOffset;
      if (!mRun.Hint().empty())
        ::DrawTextW(dc, mRun.Hint().c_str(), static_cast<int>(mRun.Hint().size()), &rect, DT_WORDBREAK);
    }
  }

  ::EndPaint(m_hWnd, &ps);
  return 0;
}
