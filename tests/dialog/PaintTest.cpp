// What the dialog paints, read back from the screen: before and after a change, so the tests do not
// depend on fonts or on exact pixel positions of the text.
#include <utility>
#include <vector>

#include "DialogFixture.h"

namespace {

bool HasColour(const std::vector<COLORREF>& pixels, COLORREF colour) {
  for (COLORREF c : pixels) {
    if (c == colour) return true;
  }
  return false;
}

// How many pixels two captures of the same area differ in (0: the same picture).
size_t Differing(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b) {
  if (a.size() != b.size()) return a.size() > b.size() ? a.size() : b.size();
  size_t count = 0;
  for (size_t i = 0; i < a.size(); ++i) count += a[i] != b[i];
  return count;
}

COLORREF PixelAt(const std::vector<COLORREF>& pixels, int width, int x, int y) {
  return pixels[static_cast<size_t>(y) * width + x];
}

class PaintTest : public DialogTest {
 protected:
  // The pixels of `rect` (client coordinates) as the screen shows them after a full repaint.
  std::vector<COLORREF> Capture(RECT rect) {
    ::SetForegroundWindow(mDlg->m_hWnd);
    ::RedrawWindow(mDlg->m_hWnd, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump(100);
    POINT origin{rect.left, rect.top};
    ::ClientToScreen(mDlg->m_hWnd, &origin);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    std::vector<COLORREF> pixels;
    pixels.reserve(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) pixels.push_back(::GetPixel(memory, x, y));
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return pixels;
  }

  // Saves the whole dialog window as the screen shows it, as a 24-bit BMP, when the run asks for
  // screenshots (TESSERINE_SCREENSHOT_DIR, a host path under Wine's drive Z:).
  void SaveScreenshot(const wchar_t* name) {
    wchar_t dir[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"TESSERINE_SCREENSHOT_DIR", dir, MAX_PATH) == 0) return;
    std::wstring path = std::wstring(L"Z:") + dir + L"/" + name;
    for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
    RECT window{};
    ::GetWindowRect(mDlg->m_hWnd, &window);
    POINT origin{0, 0};
    ::ClientToScreen(mDlg->m_hWnd, &origin);
    RECT area{window.left - origin.x, window.top - origin.y, window.right - origin.x,
              window.bottom - origin.y};
    std::vector<COLORREF> pixels = Capture(area);
    int width = area.right - area.left, height = area.bottom - area.top;
    int stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + stride * height;
    std::vector<BYTE> rows(static_cast<size_t>(stride) * height);
    for (int y = 0; y < height; ++y) {
      BYTE* row = &rows[static_cast<size_t>(height - 1 - y) * stride];
      for (int x = 0; x < width; ++x) {
        COLORREF c = PixelAt(pixels, width, x, y);
        row[x * 3] = GetBValue(c);
        row[x * 3 + 1] = GetGValue(c);
        row[x * 3 + 2] = GetRValue(c);
      }
    }
    HANDLE out =
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(out, &file, sizeof(file), &written, nullptr);
    ::WriteFile(out, &info, sizeof(info), &written, nullptr);
    ::WriteFile(out, rows.data(), static_cast<DWORD>(rows.size()), &written, nullptr);
    ::CloseHandle(out);
  }

  RECT Client() const {
    RECT rect{};
    ::GetClientRect(mDlg->m_hWnd, &rect);
    return rect;
  }

  // The area of result messages and hints: right of the banner, from 120 pixels down to the band.
  RECT MessageArea() const {
    RECT rect = Client();
    rect.left += 180;
    rect.top += 120;
    rect.right -= 20;
    rect.bottom -= 53;
    return rect;
  }

  // The test mark is drawn over the banner's top-left corner.
  static RECT MarkArea() { return RECT{0, 0, 140, 40}; }
};

}  // namespace

TEST_F(PaintTest, BackgroundIsWindowColouredAboveAButtonColouredBandOf53Pixels) {
  RECT client = Client();
  RECT edge{client.right - 4, 0, client.right, client.bottom};  // right of every control
  std::vector<COLORREF> pixels = Capture(edge);
  int height = edge.bottom - edge.top;
  EXPECT_EQ(PixelAt(pixels, 4, 1, 5), ::GetSysColor(COLOR_WINDOW));
  EXPECT_EQ(PixelAt(pixels, 4, 1, height - 54), ::GetSysColor(COLOR_WINDOW));
  // The etched separator is drawn along the band's top edge; below it the band shows.
  EXPECT_EQ(PixelAt(pixels, 4, 1, height - 50), ::GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(PixelAt(pixels, 4, 1, height - 1), ::GetSysColor(COLOR_BTNFACE));
}

TEST_F(PaintTest, BannerIsCopiedAtTheTopLeftAtItsOwnSize) {
  std::vector<COLORREF> before = Capture(RECT{0, 0, 200, 320});
  ASSERT_NE(mDlg->Banner().DC(), nullptr) << "loaded on the first paint";
  EXPECT_EQ(mDlg->Banner().Size().cx, 164);
  EXPECT_EQ(mDlg->Banner().Size().cy, 314);
  for (POINT p : {POINT{20, 200}, POINT{100, 300}, POINT{163, 313}, POINT{5, 250}}) {
    EXPECT_EQ(PixelAt(before, 200, p.x, p.y), ::GetPixel(mDlg->Banner().DC(), p.x, p.y)) << p.x << "," << p.y;
  }
}

TEST_F(PaintTest, TestPatchMarkIsDrawnInPureGreenOverTheBanner) {
  std::vector<COLORREF> plain = Capture(MarkArea());
  EXPECT_FALSE(HasColour(plain, RGB(0, 255, 0)));
  mMachine.entries[2].first = L"ZAV.2.12.4526-2.12.4536_test.rtp";
  Open(FakePorts());
  std::vector<COLORREF> marked = Capture(MarkArea());
  EXPECT_TRUE(HasColour(marked, RGB(0, 255, 0)));
}

TEST_F(PaintTest, ResultMessageAndHintAreDrawnOnlyOnResultPages) {
  const wchar_t kMessage[] = L"发生错误，无法进行更新。";
  std::vector<COLORREF> welcome = Capture(MessageArea());
  mDlg->EndRun(Ending::OnSamePage().WithMessage(kMessage));
  EXPECT_EQ(Differing(Capture(MessageArea()), welcome), 0u) << "not before the first result page";

  // The failed page keeps the message and hint it finds (its offer, the same button throughout here, is
  // in the area too).
  mDlg->EndRun(Ending::Failed().WithOutcome(OutcomeNewPatch).WithMessage(L""));
  mDlg->SetPage(PageFailed);
  std::vector<COLORREF> empty = Capture(MessageArea());
  mDlg->EndRun(Ending::Failed().WithOutcome(OutcomeNewPatch).WithMessage(kMessage));
  mDlg->SetPage(PageFailed);
  std::vector<COLORREF> both = Capture(MessageArea());
  EXPECT_GT(Differing(both, empty), 0u);
  mDlg->EndRun(Ending::Failed().WithOutcome(OutcomeNone));
  mDlg->SetPage(PageFailed);
  std::vector<COLORREF> messageOnly = Capture(MessageArea());
  EXPECT_GT(Differing(messageOnly, both), 0u) << "the hint adds its own text";

  mDlg->EndRun(Ending::Failed().WithOutcome(OutcomeNewPatch).WithMessage(L""));
  mDlg->SetPage(PageFailed);
  EXPECT_FALSE(mDlg->Run().Hint().empty());
  EXPECT_EQ(Differing(Capture(MessageArea()), empty), 0u) << "the hint is drawn only with a message";
}

TEST_F(PaintTest, HiddenStatusLinesAreDrawnWhereTheyLie) {
  RECT status{};
  ::GetWindowRect(::GetDlgItem(mDlg->m_hWnd, IDC_FILE_STATUS), &status);
  ::MapWindowPoints(nullptr, mDlg->m_hWnd, reinterpret_cast<POINT*>(&status), 2);
  mDlg->SetPage(9);
  std::vector<COLORREF> blank = Capture(status);
  mDlg->SetFileStatus(L"[1 of 3] 正在处理文件 data.pak...");
  std::vector<COLORREF> written = Capture(status);
  EXPECT_GT(Differing(written, blank), 0u);
  mDlg->SetPage(9);  // a page switch empties the line
  EXPECT_EQ(Differing(Capture(status), blank), 0u);
}

TEST_F(PaintTest, EmptyHeadingDrawsNothing) {
  RECT heading = Client();
  heading.left += 180;
  heading.right -= 20;
  heading.bottom = heading.top + 40;
  std::vector<COLORREF> withTitle = Capture(heading);
  mDlg->SetTitle(L"");
  std::vector<COLORREF> without = Capture(heading);
  EXPECT_GT(Differing(withTitle, without), 0u);
  EXPECT_FALSE(HasColour(without, RGB(0, 0, 0)));
}

TEST_F(PaintTest, ClosingReleasesTheBanner) {
  Capture(MarkArea());
  ASSERT_NE(mDlg->Banner().Bitmap(), nullptr);
  mDlg->CloseDialog(kExitCancelled);
  EXPECT_EQ(mDlg->Banner().Bitmap(), nullptr);
  EXPECT_EQ(mDlg->Banner().DC(), nullptr);
  EXPECT_FALSE(mDlg->IsWindow());
}

TEST_F(PaintTest, FinishedPageDrawsItsMessageUnderTheHeading) {
  mDlg->SetPage(9);
  std::vector<COLORREF> blank = Capture(MessageArea());
  mDlg->SetPage(PageFinished);
  EXPECT_GT(Differing(Capture(MessageArea()), blank), 0u);
  SaveScreenshot(L"finished.bmp");
}

namespace {

// The threshold of a slow painting, and the bar's own paintings asked for to show 40, 60 and 40 once it
// has been judged: at 0 every painting is slow and it is shown from copies, otherwise it paints itself.
class BarPaintTest : public PaintTest, public ::testing::WithParamInterface<std::pair<uint32_t, int>> {};

TEST_P(BarPaintTest, ShowsExactlyWhatTheBarPaintsItself) {
  HWND bar = ::GetDlgItem(mDlg->m_hWnd, IDC_FILE_PROGRESS);
  mDlg->ShowPage(PageInstalling, IDCANCEL);
  RECT area{};
  ::GetWindowRect(bar, &area);
  ::MapWindowPoints(nullptr, mDlg->m_hWnd, reinterpret_cast<POINT*>(&area), 2);
  mDlg->FileBarPaint().Detach();
  mDlg->SetFileProgress(40);
  const std::vector<COLORREF> own = Capture(area);

  CBarPaintCache cache(GetParam().first);
  ASSERT_TRUE(cache.Attach(bar));
  for (int position : {10, 20, 30}) {  // the bar's first paintings decide
    mDlg->SetFileProgress(position);
    Capture(area);
  }
  const int judged = cache.Renders();
  mDlg->SetFileProgress(40);
  EXPECT_EQ(Differing(Capture(area), own), 0u);
  mDlg->SetFileProgress(60);
  EXPECT_GT(Differing(Capture(area), own), 0u);
  mDlg->SetFileProgress(40);
  EXPECT_EQ(Differing(Capture(area), own), 0u);
  EXPECT_EQ(cache.Renders() - judged, GetParam().second) << "a position painted before is copied";
}

TEST_F(PaintTest, ABarThatAnimatesItselfIsLeftToPaintItself) {
  HWND bar = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_MARQUEE, 200, 200, 100,
                               12, mDlg->m_hWnd, nullptr, nullptr, nullptr);
  CBarPaintCache cache(0);
  ASSERT_TRUE(cache.Attach(bar));
  for (int i = 0; i < 3; ++i) ::RedrawWindow(bar, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_TRUE(cache.ShowsCopies());
  ::SendMessageW(bar, PBM_SETMARQUEE, TRUE, 10);  // the bar's own timer moves it
  Pump(200);
  EXPECT_FALSE(cache.ShowsCopies());
}

INSTANTIATE_TEST_SUITE_P(SlowOrFast, BarPaintTest,
                         ::testing::Values(std::make_pair(0u, 2), std::make_pair(UINT32_MAX, 0)));

}  // namespace
