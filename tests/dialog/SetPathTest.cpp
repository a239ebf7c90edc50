#include "dialog/SetPath.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "framework/AppModule.h"

namespace {

const DWORD kFindTimeoutMs = 5000;

std::wstring TextOf(HWND hwnd) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(hwnd, text, 1024);
  return text;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  ::GetClassNameW(hwnd, name, 64);
  return name;
}

struct Search {
  const std::function<bool(HWND)>* match;
  HWND found;
};

BOOL CALLBACK CheckTopLevel(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(hwnd) && (*search->match)(hwnd)) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// The first visible top-level window of this process that satisfies `match`, within the time-out.
HWND FindTopLevel(const std::function<bool(HWND)>& match, DWORD timeoutMs = kFindTimeoutMs) {
  Search search{&match, nullptr};
  const DWORD start = ::GetTickCount();
  while (search.found == nullptr && ::GetTickCount() - start < timeoutMs) {
    ::EnumWindows(CheckTopLevel, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) ::Sleep(20);
  }
  return search.found;
}

// The folder dialog: a dialog of this process with the folder edit field.
HWND FindFolderDialog() {
  return FindTopLevel(
      [](HWND hwnd) { return ClassOf(hwnd) == L"#32770" && ::GetDlgItem(hwnd, IDC_PATH_EDIT) != nullptr; });
}

// The shell's folder browser: a dialog owned by `owner` with a tree of folders.
HWND FindBrowser(HWND owner) {
  return FindTopLevel([owner](HWND hwnd) {
    return ClassOf(hwnd) == L"#32770" && ::GetWindow(hwnd, GW_OWNER) == owner &&
           ::FindWindowExW(hwnd, nullptr, WC_TREEVIEWW, nullptr) != nullptr;
  });
}

bool WaitGone(HWND hwnd, DWORD timeoutMs = kFindTimeoutMs) {
  const DWORD start = ::GetTickCount();
  while (::IsWindow(hwnd) && ::GetTickCount() - start < timeoutMs) ::Sleep(20);
  return !::IsWindow(hwnd);
}

std::wstring EditText(HWND dialog) {
  return TextOf(::GetDlgItem(dialog, IDC_PATH_EDIT));
}
void SetEditText(HWND dialog, const std::wstring& text) {
  ::SendMessageW(::GetDlgItem(dialog, IDC_PATH_EDIT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}
// Clicks are posted: a click that opens a modal window would block a sender.
void Click(HWND dialog, int id) {
  ::PostMessageW(::GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}
void PressKey(HWND dialog, int id, WPARAM key) {
  ::PostMessageW(::GetDlgItem(dialog, id), WM_KEYDOWN, key, 1);
  ::PostMessageW(::GetDlgItem(dialog, id), WM_KEYUP, key, 0xC0000001);
}

std::wstring TreeItemText(HWND tree, HTREEITEM item) {
  wchar_t text[MAX_PATH] = {};
  TVITEMW data{};
  data.mask = TVIF_TEXT;
  data.hItem = item;
  data.pszText = text;
  data.cchTextMax = MAX_PATH;
  ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
  return text;
}

// Expands `parent` (the browser fills a folder's children on its first expansion) and returns the first
// child whose text satisfies `match`.
HTREEITEM FindChild(HWND tree, HTREEITEM parent, const std::function<bool(const std::wstring&)>& match) {
  ::SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
  auto item = reinterpret_cast<HTREEITEM>(
      ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(parent)));
  for (; item != nullptr; item = reinterpret_cast<HTREEITEM>(::SendMessageW(
                              tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
    if (match(TreeItemText(tree, item))) return item;
  }
  return nullptr;
}

// Selects the folder `name` in the root of drive C: in the browser's tree: the desktop, then the item of
// drive C: one level below it (under the computer), then the folder.
bool SelectFolderOnDriveC(HWND browser, const std::wstring& name) {
  HWND tree = ::FindWindowExW(browser, nullptr, WC_TREEVIEWW, nullptr);
  auto desktop = reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
  if (desktop == nullptr) return false;
  HTREEITEM driveC = nullptr;
  ::SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(desktop));
  for (auto place = reinterpret_cast<HTREEITEM>(
           ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(desktop)));
       place != nullptr && driveC == nullptr;
       place = reinterpret_cast<HTREEITEM>(
           ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(place)))) {
    driveC = FindChild(tree, place,
                       [](const std::wstring& text) { return text.find(L"(C:)") != std::wstring::npos; });
  }
  if (driveC == nullptr) return false;
  HTREEITEM folder = FindChild(
      tree, driveC, [&](const std::wstring& text) { return ::lstrcmpiW(text.c_str(), name.c_str()) == 0; });
  if (folder == nullptr) return false;
  return ::SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(folder)) != FALSE;
}

// A plain top-level window to own the dialog, as the main dialog does.
class OwnerWindow {
 public:
  explicit OwnerWindow(const std::wstring& title) {
    static ATOM windowClass = [] {
      WNDCLASSW data{};
      data.lpfnWndProc = ::DefWindowProcW;
      data.hInstance = ::GetModuleHandleW(nullptr);
      data.lpszClassName = L"SetPathTestOwner";
      return ::RegisterClassW(&data);
    }();
    mHwnd = ::CreateWindowExW(0, MAKEINTATOM(windowClass), title.c_str(), WS_OVERLAPPEDWINDOW, 50, 50, 400,
                              300, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::ShowWindow(mHwnd, SW_SHOW);
    ::SetForegroundWindow(mHwnd);
    ::SetActiveWindow(mHwnd);
  }
  ~OwnerWindow() { ::DestroyWindow(mHwnd); }
  HWND Get() const { return mHwnd; }

 private:
  HWND mHwnd = nullptr;
};

class SetPathTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    theModule.Init(::GetModuleHandleW(nullptr));
    // The installer initialises COM on its thread before any window; the folder browser needs it.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TREEVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
  }

  // Runs the dialog modally on this thread while `drive` works it from a helper thread. A dialog still
  // open after the helper is done is cancelled, so a failing test does not hang.
  INT_PTR Run(const std::wstring& initial, const std::function<void(HWND dialog)>& drive) {
    mFound = false;
    mLeftOpen = false;
    std::thread helper([&] {
      HWND dialog = FindFolderDialog();
      mFound = dialog != nullptr;
      if (dialog == nullptr) return;
      drive(dialog);
      if (!WaitGone(dialog)) {
        mLeftOpen = true;
        ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      }
    });
    INT_PTR result = mDialog.DoModal(initial);
    helper.join();
    EXPECT_TRUE(mFound) << "the folder dialog did not appear";
    EXPECT_FALSE(mLeftOpen) << "the folder dialog stayed open";
    return result;
  }

  SetPath mDialog;
  bool mFound = false;
  bool mLeftOpen = false;
};

TEST_F(SetPathTest, EditShowsTheInitialFolderAndOkKeepsIt) {
  std::wstring shown;
  EXPECT_EQ(Run(L"c:\\program files\\norrat\\zav\\",
                [&](HWND dialog) {
                  shown = EditText(dialog);
                  Click(dialog, IDOK);
                }),
            IDOK);
  EXPECT_EQ(shown, L"c:\\program files\\norrat\\zav\\");
  EXPECT_EQ(mDialog.mPath, L"c:\\program files\\norrat\\zav\\");
}

// How the dialog ends: OK (the button or Enter) returns 1 with the edit's text, cancelling (the button,
// Escape or the close box) returns 2 and keeps the initial folder.
struct EndingCase {
  const wchar_t* initial;
  const wchar_t* typed;
  void (*end)(HWND dialog);  // OK, Enter, Cancel, Escape or the close box
  INT_PTR result;
  const wchar_t* path;
};

class SetPathEndingTest : public SetPathTest, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(SetPathEndingTest, ReturnsItsResultAndPath) {
  const EndingCase& c = GetParam();
  EXPECT_EQ(Run(c.initial, [&c](HWND dialog) { SetEditText(dialog, c.typed), c.end(dialog); }), c.result);
  EXPECT_EQ(mDialog.mPath, c.path);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, SetPathEndingTest,
    ::testing::Values(
        EndingCase{L"c:\\games\\zav", L"", [](HWND d) { Click(d, IDOK); }, 1, L""},
        EndingCase{L"", L"D:\\游戏\\澜星纪", [](HWND d) { Click(d, IDOK); }, 1, L"D:\\游戏\\澜星纪"},
        EndingCase{L"", L"C:\\Games\\ZAV", [](HWND d) { PressKey(d, IDC_PATH_EDIT, VK_RETURN); }, 1,
                   L"C:\\Games\\ZAV"},
        EndingCase{L"c:\\games\\zav", L"c:\\elsewhere", [](HWND d) { Click(d, IDCANCEL); }, 2,
                   L"c:\\games\\zav"},
        EndingCase{L"c:\\games\\zav", L"c:\\elsewhere", [](HWND d) { PressKey(d, IDC_PATH_EDIT, VK_ESCAPE); },
                   2, L"c:\\games\\zav"},
        EndingCase{L"c:\\games\\zav", L"c:\\elsewhere",
                   [](HWND d) { ::PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, 2, L"c:\\games\\zav"}));

TEST_F(SetPathTest, TextLongerThan259CharactersIsCutTo259) {
  std::wstring longText = L"c:\\";
  for (int i = 0; longText.size() < 300; ++i) longText += L"folder" + std::to_wstring(i) + L"\\";
  EXPECT_EQ(Run(L"",
                [&](HWND dialog) {
                  SetEditText(dialog, longText);
                  Click(dialog, IDOK);
                }),
            1);
  EXPECT_EQ(mDialog.mPath, longText.substr(0, 259));
}

TEST_F(SetPathTest, FocusStartsOnTheOkButton) {
  HWND focus = nullptr;
  HWND ok = nullptr;
  Run(L"c:\\games\\zav", [&](HWND dialog) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &info);
    focus = info.hwndFocus;
    ok = ::GetDlgItem(dialog, IDOK);
    Click(dialog, IDCANCEL);
  });
  EXPECT_EQ(focus, ok);
}

TEST_F(SetPathTest, CaptionIsTheActiveOwnersTitle) {
  OwnerWindow owner(L"《澜星纪》更新 2.12.4526-2.12.4536");
  ASSERT_EQ(::GetActiveWindow(), owner.Get());
  std::wstring caption;
  HWND dialogOwner = nullptr;
  BOOL ownerEnabled = TRUE;
  EXPECT_EQ(Run(L"",
                [&](HWND dialog) {
                  caption = TextOf(dialog);
                  dialogOwner = ::GetWindow(dialog, GW_OWNER);
                  ownerEnabled = ::IsWindowEnabled(owner.Get());
                  Click(dialog, IDCANCEL);
                }),
            2);
  EXPECT_EQ(caption, L"《澜星纪》更新 2.12.4526-2.12.4536");
  EXPECT_EQ(dialogOwner, owner.Get());
  EXPECT_FALSE(ownerEnabled) << "the dialog is modal to its owner";
  EXPECT_TRUE(::IsWindowEnabled(owner.Get()));
}

TEST_F(SetPathTest, OwnersTitleIsCutTo259Characters) {
  std::wstring title;
  for (int i = 0; title.size() < 300; ++i) title += L"标题" + std::to_wstring(i) + L" ";
  OwnerWindow owner(title);
  ASSERT_EQ(::GetActiveWindow(), owner.Get());
  std::wstring caption;
  Run(L"", [&](HWND dialog) {
    caption = TextOf(dialog);
    Click(dialog, IDCANCEL);
  });
  EXPECT_EQ(caption, title.substr(0, 259));
}

TEST_F(SetPathTest, WithoutActiveWindowTheDialogHasNoOwnerAndAnEmptyCaption) {
  ASSERT_EQ(::GetActiveWindow(), nullptr);
  std::wstring caption = L"unread";
  HWND dialogOwner = reinterpret_cast<HWND>(1);
  EXPECT_EQ(Run(L"",
                [&](HWND dialog) {
                  caption = TextOf(dialog);
                  dialogOwner = ::GetWindow(dialog, GW_OWNER);
                  Click(dialog, IDCANCEL);
                }),
            2);
  EXPECT_EQ(caption, L"");  // the template's caption is replaced
  EXPECT_EQ(dialogOwner, nullptr);
}

TEST_F(SetPathTest, DialogThatCannotBeCreatedReturnsMinusOne) {
  // A module without the dialog template.
  theModule.Init(::GetModuleHandleW(L"kernel32.dll"));
  const INT_PTR result = mDialog.DoModal(L"c:\\games\\zav");
  theModule.Init(::GetModuleHandleW(nullptr));
  EXPECT_EQ(result, -1);
  EXPECT_EQ(mDialog.mPath, L"c:\\games\\zav");
}

// ---- The folder browser

// A folder in the root of drive C:, removed at the end.
class BrowsedFolder {
 public:
  BrowsedFolder() : mName(L"tesserine-browse-" + std::to_wstring(::GetCurrentProcessId())) {
    ::CreateDirectoryW(Path().c_str(), nullptr);
  }
  ~BrowsedFolder() { ::RemoveDirectoryW(Path().c_str()); }
  const std::wstring& Name() const { return mName; }
  std::wstring Path() const { return L"C:\\" + mName; }

 private:
  std::wstring mName;
};

struct BrowseSeen {
  bool opened = false;
  bool gone = false;
  bool selected = false;
  std::wstring title;
  std::wstring editAfter;
};

// The browser shows the title it was given in a static text among its controls.
BOOL CALLBACK FindTitle(HWND child, LPARAM param) {
  if (ClassOf(child) == L"Static" && TextOf(child) == L"Choose folder...") {
    *reinterpret_cast<std::wstring*>(param) = TextOf(child);
  }
  return TRUE;
}

// Opens the browser with the browse button, lets `choose` act on it and waits for it to close.
void Browse(HWND dialog, BrowseSeen& seen, const std::function<void(HWND browser)>& choose) {
  Click(dialog, IDC_BROWSE);
  HWND browser = FindBrowser(dialog);
  seen.opened = browser != nullptr;
  if (browser == nullptr) return;
  ::EnumChildWindows(browser, FindTitle, reinterpret_cast<LPARAM>(&seen.title));
  choose(browser);
  seen.gone = WaitGone(browser);
  if (!seen.gone) ::PostMessageW(browser, WM_COMMAND, IDCANCEL, 0);
  seen.editAfter = EditText(dialog);
}

TEST_F(SetPathTest, BrowseOpensTheFolderBrowserAndCancellingItChangesNothing) {
  BrowseSeen seen;
  EXPECT_EQ(Run(L"c:\\games\\zav",
                [&](HWND dialog) {
                  Browse(dialog, seen, [](HWND browser) { Click(browser, IDCANCEL); });
                  Click(dialog, IDCANCEL);
                }),
            2);
  EXPECT_TRUE(seen.opened) << "no folder browser owned by the dialog appeared";
  EXPECT_EQ(seen.title, L"Choose folder...");
  EXPECT_TRUE(seen.gone);
  EXPECT_EQ(seen.editAfter, L"c:\\games\\zav");
  EXPECT_EQ(mDialog.mPath, L"c:\\games\\zav");
}

TEST_F(SetPathTest, BrowsedFolderStaysThePathWhenTheDialogIsCancelled) {
  BrowsedFolder folder;
  BrowseSeen seen;
  EXPECT_EQ(Run(L"c:\\games\\zav",
                [&](HWND dialog) {
                  Browse(dialog, seen, [&](HWND browser) {
                    seen.selected = SelectFolderOnDriveC(browser, folder.Name());
                    Click(browser, seen.selected ? IDOK : IDCANCEL);
                  });
                  Click(dialog, IDCANCEL);
                }),
            2);
  ASSERT_TRUE(seen.opened);
  ASSERT_TRUE(seen.selected) << "the folder was not found in the browser's tree";
  EXPECT_TRUE(seen.gone);
  EXPECT_EQ(seen.editAfter, folder.Path());
  EXPECT_EQ(mDialog.mPath, folder.Path());
}

TEST_F(SetPathTest, BrowsingThenEditingThenOkGivesTheEditedText) {
  BrowsedFolder folder;
  BrowseSeen seen;
  EXPECT_EQ(Run(L"c:\\games\\zav",
                [&](HWND dialog) {
                  Browse(dialog, seen, [&](HWND browser) {
                    seen.selected = SelectFolderOnDriveC(browser, folder.Name());
                    Click(browser, seen.selected ? IDOK : IDCANCEL);
                  });
                  SetEditText(dialog, seen.editAfter + L"\\bin");
                  Click(dialog, IDOK);
                }),
            1);
  ASSERT_TRUE(seen.selected);
  EXPECT_EQ(seen.editAfter, folder.Path());
  EXPECT_EQ(mDialog.mPath, folder.Path() + L"\\bin");
}

}  // namespace
