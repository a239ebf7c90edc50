// The welcome page of a packed installer: the notes from its archive, the versions line, the title and
// the test mark, and what it shows for archives with bad or missing parts.
#include <gtest/gtest.h>

#include "Driver.h"
#include "PackedInstaller.h"

namespace {

using e2e::Entry;
using e2e::PackedInstaller;
using e2e::ShippedEntries;

constexpr int kVersions = 1017;
constexpr int kNotesFrame = 1018;

HWND NotesView(const e2e::Installer& app) {
  return ::FindWindowExW(app.Dialog(), nullptr, L"RICHEDIT", nullptr);
}

// The notes view is the dialog's only child with id 0.
constexpr int kNotesViewId = 0;

std::wstring NotesText(const e2e::Installer& app) {
  if (NotesView(app) == nullptr) return L"<no view>";
  return app.RichText(kNotesViewId);
}

// Pure green pixels in the dialog's top-left corner, where the test mark is drawn over the banner.
int GreenPixelsInMarkArea(const e2e::Installer& app) {
  ::SetForegroundWindow(app.Dialog());
  ::RedrawWindow(app.Dialog(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  ::Sleep(300);
  POINT origin{0, 0};
  ::ClientToScreen(app.Dialog(), &origin);
  HDC screen = ::GetDC(nullptr);
  int green = 0;
  for (int y = 0; y < 40; y += 1) {
    for (int x = 0; x < 140; x += 1) {
      if (::GetPixel(screen, origin.x + x, origin.y + y) == RGB(0, 255, 0)) ++green;
    }
  }
  ::ReleaseDC(nullptr, screen);
  return green;
}

std::unique_ptr<e2e::Installer> StartOnWelcomePage(const PackedInstaller& installer) {
  auto app = e2e::Installer::Start(installer.Path());
  if (app && !app->WaitForDialog()) ADD_FAILURE() << e2e::Utf8(app->Describe());
  return app;
}

void CloseWithEscape(e2e::Installer& app) {
  ASSERT_TRUE(app.PressEscape());
  EXPECT_EQ(app.WaitForExit(), std::optional<DWORD>(2));
}

}  // namespace

TEST(WelcomePage, ShowsTheArchivesNotesVersionsAndTitle) {
  PackedInstaller installer(ShippedEntries());
  ASSERT_TRUE(installer.Ok()) << installer.Error();
  auto app = StartOnWelcomePage(installer);
  ASSERT_TRUE(app);

  EXPECT_EQ(app->Text(kVersions), L"2.12.4526 -> 2.12.4536");
  EXPECT_EQ(app->Title(), L"《澜星纪》更新 2.12.4526-2.12.4536");
  EXPECT_EQ(app->Text(1), L"开始更新");
  EXPECT_TRUE(app->Visible(kNotesFrame));

  HWND view = NotesView(*app);
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(::IsWindowVisible(view));
  LONG style = ::GetWindowLongW(view, GWL_STYLE);
  // The rich edit shows its scroll bar only when the text needs it.
  EXPECT_EQ(style & (ES_READONLY | ES_MULTILINE | WS_CHILD), ES_READONLY | ES_MULTILINE | WS_CHILD);
  RECT frame{}, inner{};
  ::GetWindowRect(app->Item(kNotesFrame), &frame);
  ::GetWindowRect(view, &inner);
  EXPECT_EQ(inner.left, frame.left + 2);
  EXPECT_EQ(inner.top, frame.top + 2);
  EXPECT_EQ(inner.right, frame.right - 2);
  EXPECT_EQ(inner.bottom, frame.bottom - 2);

  // The document is RTF with code page 936 and escaped Chinese: the view shows the formatted text.
  std::wstring notes = NotesText(*app);
  EXPECT_NE(notes.find(L"《澜星纪》更新 2.12.4536"), std::wstring::npos) << e2e::Utf8(notes);
  EXPECT_NE(notes.find(L"潮汐回廊"), std::wstring::npos) << e2e::Utf8(notes);
  EXPECT_EQ(notes.find(L"\\rtf1"), std::wstring::npos) << "the RTF header is read, not shown";
  EXPECT_EQ(GreenPixelsInMarkArea(*app), 0) << "no test mark for a normal patch";

  std::wstring shots = e2e::Env(L"TESSERINE_SCREENSHOT_DIR");
  if (!shots.empty()) {
    EXPECT_TRUE(app->Screenshot(e2e::FromHostPath(shots) + L"\\welcome.bmp"));
  }
  CloseWithEscape(*app);
}

TEST(WelcomePage, ArchiveWithATestPatchDrawsTheGreenMark) {
  PackedInstaller installer(ShippedEntries("zav.2.12.4526-2.12.4536_test.rtp"));
  ASSERT_TRUE(installer.Ok()) << installer.Error();
  auto app = StartOnWelcomePage(installer);
  ASSERT_TRUE(app);
  EXPECT_EQ(app->Text(kVersions), L"2.12.4526 -> 2.12.4536") << "the test suffix is not part of the version";
  EXPECT_GT(GreenPixelsInMarkArea(*app), 20);
  std::wstring shots = e2e::Env(L"TESSERINE_SCREENSHOT_DIR");
  if (!shots.empty()) {
    EXPECT_TRUE(app->Screenshot(e2e::FromHostPath(shots) + L"\\welcome-test-patch.bmp"));
  }
  CloseWithEscape(*app);
}

struct NotesCase {
  const char* label;
  std::string notes;
  std::wstring shown;
};

class WelcomeNotes : public ::testing::TestWithParam<NotesCase> {};

TEST_P(WelcomeNotes, ShowTheEntryAsItsBytesAllow) {
  std::vector<Entry> entries = ShippedEntries();
  entries[1].bytes = GetParam().notes;
  PackedInstaller installer(entries);
  ASSERT_TRUE(installer.Ok()) << installer.Error();
  auto app = StartOnWelcomePage(installer);
  ASSERT_TRUE(app);
  ASSERT_NE(NotesView(*app), nullptr);
  std::wstring shown = NotesText(*app);
  // A rich edit ends its text with a paragraph mark of its own.
  while (!shown.empty() && (shown.back() == L'\r' || shown.back() == L'\n')) shown.pop_back();
  EXPECT_EQ(shown, GetParam().shown) << e2e::Utf8(shown);
  EXPECT_EQ(app->Text(kVersions), L"2.12.4526 -> 2.12.4536");
  CloseWithEscape(*app);
}

INSTANTIATE_TEST_SUITE_P(
    BadNotes, WelcomeNotes,
    ::testing::Values(NotesCase{"Empty", "", L""},
                      NotesCase{"ZeroByte", std::string("{\\rtf1\\ansi first}\0{\\rtf1 second}", 33),
                                L"first"},
                      // Plain text in the ANSI code page (936): "更新说明" then ASCII.
                      NotesCase{"PlainText", "\xb8\xfc\xd0\xc2\xcb\xb5\xc3\xf7 v4536", L"更新说明 v4536"}),
    [](const ::testing::TestParamInfo<NotesCase>& info) { return std::string(info.param.label); });

TEST(WelcomePage, ArchiveWithoutNotesShowsTheEmptyFrame) {
  std::vector<Entry> entries = ShippedEntries();
  entries.erase(entries.begin() + 1);
  PackedInstaller installer(entries);
  ASSERT_TRUE(installer.Ok()) << installer.Error();
  auto app = StartOnWelcomePage(installer);
  ASSERT_TRUE(app);
  EXPECT_TRUE(app->Visible(kNotesFrame));
  EXPECT_EQ(NotesView(*app), nullptr);
  EXPECT_EQ(app->Text(kVersions), L"2.12.4526 -> 2.12.4536");
  CloseWithEscape(*app);
}

TEST(WelcomePage, UnreadablePatchNameShowsZeroVersions) {
  for (const char* name : {"zav.bad.rtp", "zav.2.12.4526.2.12.4536.rtp", "zav.0.0.0-2.12.4536.rtp"}) {
    SCOPED_TRACE(name);
    PackedInstaller installer(ShippedEntries(name));
    ASSERT_TRUE(installer.Ok()) << installer.Error();
    auto app = StartOnWelcomePage(installer);
    ASSERT_TRUE(app);
    std::wstring versions = app->Text(kVersions);
    if (std::string(name) == "zav.0.0.0-2.12.4536.rtp") {
      EXPECT_EQ(versions, L"0.0.0 -> 2.12.4536") << "a zero build is shown as it is";
    } else {
      EXPECT_EQ(versions, L"0.0.0 -> 0.0.0");
    }
    EXPECT_TRUE(app->Visible(1));
    CloseWithEscape(*app);
  }
}
