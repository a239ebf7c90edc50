// End-to-end driver: starts a Windows dialog program (the installer) and drives it from the outside the way
// a user would: it reads controls by id, presses buttons and keys, answers message boxes, takes
// screenshots and collects the exit code.
//
// A scenario reads like the user's story:
//
//   auto app = e2e::Installer::Start(e2e::BinPath(L"Tesserine.exe"), L"path=C:\\zav");
//   ASSERT_TRUE(app);
//   ASSERT_TRUE(app->WaitForDialog()) << e2e::Utf8(app->Describe());
//   EXPECT_EQ(L"开始更新", app->Text(1));
//   ASSERT_TRUE(app->Click(1));
//   auto box = app->WaitForMessageBox();
//   ASSERT_TRUE(box);
//   EXPECT_EQ(L"缺少文件。", box->text);
//   ASSERT_TRUE(app->Answer(*box, IDOK));
//   ASSERT_TRUE(app->PressEscape());
//   EXPECT_EQ(2u, app->WaitForExit());
//
// Rules the driver keeps so that a broken program fails its test instead of hanging the suite:
// - Every wait is bounded. Timeouts are in milliseconds; kDefaultWait (also INFINITE, which is never
//   honoured) means the installer's default bound, 10 s unless SetDefaultWait changed it.
// - Waits give up at once when the process has ended.
// - Messages to the program are posted (clicks, keys) or sent with a time-out (reads), so a program that
//   hangs or shows a modal box never blocks the test.
// - The process is terminated when the Installer object goes, and by WaitForExit when it times out. It runs
//   in a job that ends with the test program, so even a test program that crashes leaves nothing behind
//   (this includes whatever the program starts: a browser, the client).
//
// Windows are found by process id: the test must start the program itself (under Wine a program only sees
// the windows of its own desktop). The main dialog is the visible, unowned "#32770" window of the
// process; a message box is any other visible "#32770" window of it whose children are a text static
// (id 0xFFFF), an icon and standard buttons (IDOK 1 ... IDCONTINUE 11). Buttons are matched by id, never
// by their locale-dependent text.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

// "Use the default bound" for every timeout parameter below.
constexpr DWORD kDefaultWait = INFINITE;

// The folder of the running test program (BUILD/bin): the installer and the fixtures are built beside it.
std::wstring BinDir();
// BinDir() + "\" + name.
std::wstring BinPath(const std::wstring& name);
// A path taken from the Linux side (an environment variable, a CTest argument) made usable by a Windows
// program under Wine: "/work/out" becomes "Z:\work\out". Other paths come back with "/" turned into "\".
std::wstring FromHostPath(const std::wstring& path);
// An environment variable of the test process; empty when it is not set.
std::wstring Env(const std::wstring& name);
// UTF-8 for messages (GoogleTest prints wide strings in comparisons as escapes).
std::string Utf8(const std::wstring& text);

// A fresh, empty folder under the user's temporary folder, deleted with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool Ok() const { return !path_.empty(); }
  // Without trailing backslash.
  const std::wstring& Path() const { return path_; }
  // Path() + "\" + relative ("a\b.txt").
  std::wstring operator/(const std::wstring& relative) const;
  // Creates the folder (and its parents) below Path().
  bool MakeDir(const std::wstring& relative) const;
  // Writes the bytes to a file below Path(), creating its folders; replaces an existing file.
  bool WriteFile(const std::wstring& relative, const std::string& bytes) const;
  bool Exists(const std::wstring& relative) const;
  // Reads a whole file below Path(); nullopt when it cannot be read.
  std::optional<std::string> ReadFile(const std::wstring& relative) const;

 private:
  std::wstring path_;
};

// Deletes a folder with everything in it. True when it is gone afterwards.
bool RemoveTree(const std::wstring& path);

// The standard icon a message box shows, told apart by comparing its pixels on the screen with the system's
// icons (Unknown when they match none, or another program's window stayed in front of the box for 3 s).
enum class BoxIcon { None, Error, Question, Warning, Information, Unknown };
const char* ToString(BoxIcon icon);

struct MessageBoxInfo {
  HWND hwnd = nullptr;
  std::wstring caption;
  std::wstring text;         // the static 0xFFFF
  std::vector<int> buttons;  // ids of the visible buttons, left to right (IDOK 1, IDCANCEL 2, IDYES 6, ...)
  BoxIcon icon = BoxIcon::None;

  bool Has(int buttonId) const;
};

// A dialog window of the driven process, read and pressed by control id. Reads return empty / -1 / false
// when the control does not exist or the program does not answer within a few seconds.
class DialogWindow {
 public:
  DialogWindow() = default;
  DialogWindow(HWND hwnd, HANDLE process) : hwnd_(hwnd), process_(process) {}

  HWND Hwnd() const { return hwnd_; }
  explicit operator bool() const { return hwnd_ != nullptr; }
  // The window still exists and is visible.
  bool Showing() const;

  HWND Item(int id) const;
  bool Exists(int id) const { return Item(id) != nullptr; }
  std::wstring Title() const;
  std::wstring Text(int id) const;
  // What the user sees: the control and all its parents are visible.
  bool Visible(int id) const;
  bool Enabled(int id) const;
  // Window class of a control ("Button", "Static", "msctls_progress32", "SysListView32", ...).
  std::wstring ClassName(int id) const;
  LONG Style(int id) const;
  // Sets an edit field's text as if typed (WM_SETTEXT).
  bool SetText(int id, const std::wstring& text) const;

  int ProgressPos(int id) const;
  std::pair<int, int> ProgressRange(int id) const;  // {low, high}; {-1, -1} when unreadable
  int ListCount(int id) const;
  std::wstring ListItem(int id, int row, int column = 0) const;  // cross-process via the program's memory
  std::vector<std::wstring> ListItems(int id, int column = 0) const;
  // Text of a rich-edit control as UTF-16 (EM_GETTEXTEX; RichEdit 1.0 is an ANSI window, WM_GETTEXT would
  // pass its text through the ANSI code page). Paragraphs end with "\r".
  std::wstring RichText(int id) const;

  // A user's click: refused (false, nothing sent) when the control is missing, hidden or disabled.
  // Posts WM_COMMAND(id, BN_CLICKED) to the dialog.
  bool Click(int id) const;
  // Posts BM_CLICK to the button itself (the button notifies the dialog); same refusal as Click.
  bool PressButton(int id) const;
  // Posts the command whatever the control's state (for commands a user cannot give).
  bool SendCommand(int id, WORD notification = BN_CLICKED) const;
  // Keys are posted to the focused control of the dialog (the dialog itself when nothing has the focus),
  // so they take the program's own keyboard path (IsDialogMessage in its loop for a modeless dialog).
  bool PressKey(UINT virtualKey) const;
  bool PressEnter() const { return PressKey(VK_RETURN); }
  bool PressEscape() const { return PressKey(VK_ESCAPE); }
  bool PressTab() const { return PressKey(VK_TAB); }
  // The close box of the caption: WM_SYSCOMMAND SC_CLOSE, as the window frame sends it.
  bool PressCloseBox() const;
  // Makes the window the foreground (active) window, as a user's click on it would; true once it is. Needed
  // before anything the program does depends on being active (GetActiveWindow is null in a program whose
  // window is not in front, and other tests' programs share the desktop).
  bool Activate(DWORD timeoutMs = 2000) const;

  // Brings the window to the front, lets it paint and saves its window rectangle from the screen as a
  // 24-bit BMP. When another program's window stays in front of it for 3 s, the picture shows that.
  bool Screenshot(const std::wstring& bmpPath) const;

  // Every control: id, class, visible/enabled, text. For failure messages.
  std::wstring Describe() const;

 protected:
  HWND hwnd_ = nullptr;
  HANDLE process_ = nullptr;  // owned by the Installer
};

struct StartOptions {
  std::wstring args;     // appended to the quoted program path
  std::wstring workDir;  // empty: the test's current folder
  // Environment variables set (or, with an empty value, removed) for the program, e.g. {L"TEMP", dir}.
  std::vector<std::pair<std::wstring, std::wstring>> env;
};

// One started program. Its main dialog's reads and presses are available directly (it is a DialogWindow
// once WaitForDialog has found the dialog).
class Installer : public DialogWindow {
 public:
  static std::unique_ptr<Installer> Start(const std::wstring& exePath, const std::wstring& args = L"",
                                          std::wstring* error = nullptr);
  static std::unique_ptr<Installer> Start(const std::wstring& exePath, const StartOptions& options,
                                          std::wstring* error = nullptr);
  ~Installer();
  Installer(const Installer&) = delete;
  Installer& operator=(const Installer&) = delete;

  DWORD ProcessId() const { return pid_; }
  HANDLE Process() const { return process_; }
  bool Running() const;
  void SetDefaultWait(DWORD ms) { defaultWait_ = ms; }
  DWORD DefaultWait() const { return defaultWait_; }

  // Waits for the main dialog to be visible. False on time-out or when the process ended.
  bool WaitForDialog(DWORD timeoutMs = kDefaultWait);
  HWND Dialog() const { return hwnd_; }

  // Polls cond every few milliseconds until it holds. False on time-out, or when the process has ended
  // and cond still does not hold.
  bool WaitUntil(const std::function<bool()>& cond, DWORD timeoutMs = kDefaultWait) const;
  bool WaitForText(int id, const std::wstring& text, DWORD timeoutMs = kDefaultWait) const;
  bool WaitForVisible(int id, bool visible = true, DWORD timeoutMs = kDefaultWait) const;

  // The top message box of the process, now; nullopt when none shows.
  std::optional<MessageBoxInfo> FindMessageBox() const;
  std::optional<MessageBoxInfo> WaitForMessageBox(DWORD timeoutMs = kDefaultWait) const;
  // Presses the box's button (refused when the box has no such button) and waits until the box is gone.
  bool Answer(const MessageBoxInfo& box, int buttonId, DWORD timeoutMs = kDefaultWait) const;
  // Any other visible "#32770" of the process that is neither the main dialog nor a message box (for
  // example a modal folder dialog).
  std::optional<DialogWindow> WaitForOtherDialog(DWORD timeoutMs = kDefaultWait) const;

  // Waits for the process to end and returns its exit code. On time-out the process is terminated and
  // nullopt returned. Under Wine a crash ends with the exception code (0xC0000005 for an access violation).
  std::optional<DWORD> WaitForExit(DWORD timeoutMs = kDefaultWait);
  // The exit code when the process has ended, else nullopt (does not wait).
  std::optional<DWORD> ExitCode() const;
  // Ends the process now (exit code 0xDEAD).
  void Terminate();

  // The process's top-level windows and the main dialog's controls. For failure messages.
  std::wstring Describe() const;

 private:
  Installer(HANDLE process, DWORD pid) : DialogWindow(nullptr, process), pid_(pid) {}
  DWORD Bound(DWORD timeoutMs) const { return timeoutMs == kDefaultWait ? defaultWait_ : timeoutMs; }

  DWORD pid_ = 0;
  DWORD defaultWait_ = 10000;
};

}  // namespace e2e
