#include "Driver.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <map>

namespace e2e {
namespace {

// How long one read may wait for the program to answer a sent message. A program that does not answer
// within it is hung; the read then fails instead of blocking the test.
constexpr UINT kSendTimeoutMs = 3000;
constexpr DWORD kPollMs = 15;
// How long to wait for a window to finish painting before a screenshot or an icon check.
constexpr DWORD kPaintWaitMs = 1500;
// How long a screenshot or an icon check waits for other programs' windows to get out of the way.
constexpr DWORD kCaptureWaitMs = 3000;
constexpr DWORD kTerminatedExitCode = 0xDEAD;
// Message boxes use the standard command ids only: IDOK 1 ... IDCONTINUE 11.
constexpr int kLastStandardButtonId = 11;
constexpr int kMessageBoxTextId = 0xFFFF;

class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h) {}
  ~Handle() {
    if (h_ && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool ok() const { return h_ && h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

class ScreenDC {
 public:
  ScreenDC() : dc_(GetDC(nullptr)) {}
  ~ScreenDC() {
    if (dc_) ReleaseDC(nullptr, dc_);
  }
  ScreenDC(const ScreenDC&) = delete;
  ScreenDC& operator=(const ScreenDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// A DIB section selected into a memory DC: 32-bit top-down for reading pixels, 24-bit bottom-up as a BMP file
// stores it.
class Canvas {
 public:
  Canvas(HDC reference, int width, int height, WORD bitCount = 32) : width_(width), height_(height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = bitCount == 32 ? -height : height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = bitCount;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(reference);
    bitmap_ = CreateDIBSection(reference, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    if (dc_ && bitmap_) old_ = SelectObject(dc_, bitmap_);
  }
  ~Canvas() {
    if (old_) SelectObject(dc_, old_);
    if (bitmap_) DeleteObject(bitmap_);
    if (dc_) DeleteDC(dc_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  bool ok() const { return dc_ && bitmap_ && bits_; }
  HDC dc() const { return dc_; }
  const BYTE* bits() const { return static_cast<const BYTE*>(bits_); }
  DWORD Pixel(int x, int y) const {
    return static_cast<const DWORD*>(bits_)[static_cast<size_t>(y) * width_ + x] & 0xFFFFFF;
  }
  void Fill(COLORREF color) const {
    HBRUSH brush = CreateSolidBrush(color);
    RECT all = {0, 0, width_, height_};
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
  }

 private:
  int width_;
  int height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  void* bits_ = nullptr;
};

// Memory in the driven process, for messages whose pointers the window system does not carry across.
class RemoteBuffer {
 public:
  RemoteBuffer(HANDLE process, size_t size) : process_(process) {
    address_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteBuffer() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  bool ok() const { return address_ != nullptr; }
  BYTE* At(size_t offset) const { return static_cast<BYTE*>(address_) + offset; }
  bool Write(size_t offset, const void* data, size_t size) const {
    SIZE_T done = 0;
    return WriteProcessMemory(process_, At(offset), data, size, &done) && done == size;
  }
  bool Read(const void* remote, void* data, size_t size) const {
    SIZE_T done = 0;
    return ReadProcessMemory(process_, remote, data, size, &done) && done == size;
  }

 private:
  HANDLE process_;
  void* address_ = nullptr;
};

bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             result ? result : &ignored) != 0;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  int n = GetClassNameW(window, name, 256);
  return std::wstring(name, n > 0 ? n : 0);
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return std::towlower(x) == std::towlower(y);
         });
}

std::wstring WindowText(HWND window) {
  DWORD_PTR length = 0;
  if (Send(window, WM_GETTEXTLENGTH, 0, 0, &length)) {
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (Send(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0]), &copied)) {
      text.resize(std::min<size_t>(copied, length));
      return text;
    }
  }
  // The program does not answer: the text the window manager keeps for the window is the best left.
  wchar_t buffer[1024] = {};
  int n = InternalGetWindowText(window, buffer, 1024);
  return std::wstring(buffer, n > 0 ? n : 0);
}

DWORD ProcessOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

struct WindowSearch {
  DWORD pid;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindowOfProcess(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  if (ProcessOf(window) == search->pid) search->found.push_back(window);
  return TRUE;
}

// Top-level windows of the process, front to back.
std::vector<HWND> TopLevelWindows(DWORD pid) {
  WindowSearch search{pid, {}};
  EnumWindows(CollectWindowOfProcess, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

bool IsDialogClass(HWND window) {
  return ClassOf(window) == L"#32770";
}

// A message box holds a text static (0xFFFF), an icon static and buttons with standard ids, nothing else.
bool IsMessageBox(HWND window) {
  if (!IsDialogClass(window)) return false;
  bool hasText = false;
  for (HWND child : Children(window)) {
    std::wstring cls = ClassOf(child);
    int id = GetDlgCtrlID(child);
    if (SameText(cls, L"Static")) {
      if (id == kMessageBoxTextId || id == -1) hasText = true;
    } else if (SameText(cls, L"Button")) {
      if (id < 1 || id > kLastStandardButtonId) return false;
    } else {
      return false;
    }
  }
  return hasText;
}

// True while the window or one of its children still has something to paint.
bool NeedsPaint(HWND window) {
  if (GetUpdateRect(window, nullptr, FALSE)) return true;
  for (HWND child : Children(window)) {
    if (IsWindowVisible(child) && GetUpdateRect(child, nullptr, FALSE)) return true;
  }
  return false;
}

// True when no window of another process lies over the rectangle (screen coordinates), probed on a grid.
// Test programs run side by side on one desktop and every dialog is centred, so this is not a given.
bool Uncovered(HWND window, const RECT& r) {
  const DWORD pid = ProcessOf(window);
  constexpr int kSteps = 6;
  for (int i = 0; i <= kSteps; ++i) {
    for (int j = 0; j <= kSteps; ++j) {
      POINT p = {r.left + (r.right - r.left - 1) * i / kSteps, r.top + (r.bottom - r.top - 1) * j / kSteps};
      HWND hit = WindowFromPoint(p);
      if (!hit || ProcessOf(hit) != pid) return false;
    }
  }
  return true;
}

// Brings the window to the front and waits (bounded) until it has painted itself completely.
void ShowAndSettle(HWND window, bool raise) {
  // Wine bounds the activation message it sends to the window's thread, so this cannot hang on a hung
  // program.
  if (raise) SetForegroundWindow(window);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  DWORD start = GetTickCount();
  Send(window, WM_NULL, 0, 0, nullptr);
  while (NeedsPaint(window) && GetTickCount() - start < kPaintWaitMs) Sleep(kPollMs);
  // The server composes the virtual desktop after the program has painted.
  Sleep(50);
}

// Shows the window in front of every other program's windows, painted, and then captures the part `area`
// (screen coordinates) with `capture`. Tries again (raising the window) while another program covers it or
// capture reports failure, for at most kCaptureWaitMs.
bool CaptureInFront(HWND window, const RECT& area, const std::function<bool()>& capture) {
  const DWORD start = GetTickCount();
  // Two drivers raising their windows over the same spot in step would take turns for ever: each waits a
  // random while before trying again.
  static DWORD seed = GetCurrentProcessId() * 2654435761u ^ GetTickCount();
  for (bool raise = false;; raise = true) {
    ShowAndSettle(window, raise);
    if (Uncovered(window, area) && capture() && Uncovered(window, area)) return true;
    if (!IsWindow(window) || GetTickCount() - start >= kCaptureWaitMs) return false;
    seed = seed * 1103515245u + 12345u;
    Sleep(kPollMs + (seed >> 16) % 250);
  }
}

bool WriteBmp24(const std::wstring& path, const BYTE* bottomUpBits, int width, int height) {
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  const DWORD imageSize = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER info = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + imageSize;
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  info.biSizeImage = imageSize;
  Handle out(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.ok()) return false;
  DWORD written = 0;
  bool ok = WriteFile(out.get(), &file, sizeof(file), &written, nullptr) && written == sizeof(file);
  ok = ok && WriteFile(out.get(), &info, sizeof(info), &written, nullptr) && written == sizeof(info);
  ok = ok && WriteFile(out.get(), bottomUpBits, imageSize, &written, nullptr) && written == imageSize;
  return ok;
}

int ChannelDistance(DWORD a, DWORD b) {
  int d = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    d = std::max(d, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
  }
  return d;
}

// Compares what the icon static shows on the screen with the standard icons drawn here at the same size.
BoxIcon MatchIcon(HWND iconStatic) {
  RECT client;
  if (!GetClientRect(iconStatic, &client)) return BoxIcon::Unknown;
  const int w = client.right, h = client.bottom;
  if (w <= 0 || h <= 0) return BoxIcon::Unknown;
  POINT origin = {0, 0};
  ClientToScreen(iconStatic, &origin);
  ScreenDC screen;
  Canvas shot(screen.get(), w, h);
  if (!shot.ok() || !BitBlt(shot.dc(), 0, 0, w, h, screen.get(), origin.x, origin.y, SRCCOPY)) {
    return BoxIcon::Unknown;
  }
  GdiFlush();

  struct Candidate {
    LPCWSTR id;
    BoxIcon icon;
  };
  const Candidate candidates[] = {{IDI_HAND, BoxIcon::Error},
                                  {IDI_QUESTION, BoxIcon::Question},
                                  {IDI_EXCLAMATION, BoxIcon::Warning},
                                  {IDI_ASTERISK, BoxIcon::Information}};
  BoxIcon best = BoxIcon::Unknown;
  double bestScore = 0.9;  // below this share of matching opaque pixels the icon is not recognised
  for (const Candidate& c : candidates) {
    HICON icon = LoadIconW(nullptr, c.id);
    Canvas onBlack(screen.get(), w, h), onWhite(screen.get(), w, h);
    if (!icon || !onBlack.ok() || !onWhite.ok()) continue;
    onBlack.Fill(RGB(0, 0, 0));
    onWhite.Fill(RGB(255, 255, 255));
    DrawIconEx(onBlack.dc(), 0, 0, icon, w, h, 0, nullptr, DI_NORMAL);
    DrawIconEx(onWhite.dc(), 0, 0, icon, w, h, 0, nullptr, DI_NORMAL);
    GdiFlush();
    int opaque = 0, matching = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        DWORD b = onBlack.Pixel(x, y);
        if (b != onWhite.Pixel(x, y)) continue;  // (partly) transparent: shows the background
        ++opaque;
        if (ChannelDistance(b, shot.Pixel(x, y)) <= 24) ++matching;
      }
    }
    if (opaque > 0 && static_cast<double>(matching) / opaque > bestScore) {
      bestScore = static_cast<double>(matching) / opaque;
      best = c.icon;
    }
  }
  return best;
}

MessageBoxInfo ReadMessageBox(HWND box) {
  MessageBoxInfo info;
  info.hwnd = box;
  info.caption = WindowText(box);
  HWND iconStatic = nullptr;
  std::vector<std::pair<LONG, int>> buttons;  // left edge, id
  for (HWND child : Children(box)) {
    std::wstring cls = ClassOf(child);
    if (SameText(cls, L"Static")) {
      int id = GetDlgCtrlID(child);
      if (id == kMessageBoxTextId || id == -1) info.text = WindowText(child);
      if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) iconStatic = child;
    } else if (SameText(cls, L"Button") && IsWindowVisible(child)) {
      RECT r;
      GetWindowRect(child, &r);
      buttons.emplace_back(r.left, GetDlgCtrlID(child));
    }
  }
  std::sort(buttons.begin(), buttons.end());
  for (const auto& b : buttons) info.buttons.push_back(b.second);
  // The icon handle is only a number here (it belongs to the other process), but none means no icon; the
  // text may then lie over the empty icon static.
  DWORD_PTR handle = 0;
  if (!iconStatic || !IsWindowVisible(iconStatic) ||
      (Send(iconStatic, STM_GETICON, 0, 0, &handle) && !handle)) {
    info.icon = BoxIcon::None;
    return info;
  }
  RECT area;
  GetWindowRect(iconStatic, &area);
  info.icon = BoxIcon::Unknown;
  CaptureInFront(box, area, [&] {
    info.icon = MatchIcon(iconStatic);
    return info.icon != BoxIcon::Unknown;
  });
  return info;
}

std::wstring Hex(ULONG_PTR value) {
  wchar_t buffer[32];
  swprintf(buffer, 32, L"%08lx", static_cast<unsigned long>(value));
  return buffer;
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  if (folder.back() == L'\\' || folder.back() == L'/') return folder + name;
  return folder + L"\\" + name;
}

bool MakeDirs(const std::wstring& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring::npos && slash > 2) MakeDirs(path.substr(0, slash));
  return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::wstring ErrorText(DWORD error) {
  wchar_t* message = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, error, 0, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
  std::wstring text = L"error " + std::to_wstring(error);
  if (message) {
    std::wstring m = message;
    LocalFree(message);
    while (!m.empty() && (m.back() == L'\n' || m.back() == L'\r' || m.back() == L' ')) m.pop_back();
    text += L" (" + m + L")";
  }
  return text;
}

// The test's environment with the overrides applied, as a sorted Unicode environment block.
std::vector<wchar_t> EnvironmentBlock(const std::vector<std::pair<std::wstring, std::wstring>>& overrides) {
  struct NoCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
      return _wcsicmp(a.c_str(), b.c_str()) < 0;
    }
  };
  std::map<std::wstring, std::wstring, NoCase> vars;
  std::vector<std::wstring> hidden;  // "=C:" style entries keep their place at the front
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
      std::wstring entry = p;
      size_t eq = entry.find(L'=', 1);
      if (entry[0] == L'=' || eq == std::wstring::npos) {
        hidden.push_back(entry);
      } else {
        vars[entry.substr(0, eq)] = entry.substr(eq + 1);
      }
    }
    FreeEnvironmentStringsW(block);
  }
  for (const auto& o : overrides) {
    if (o.second.empty()) {
      vars.erase(o.first);
    } else {
      vars[o.first] = o.second;
    }
  }
  std::vector<wchar_t> out;
  auto append = [&out](const std::wstring& s) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(L'\0');
  };
  for (const auto& h : hidden) append(h);
  for (const auto& v : vars) append(v.first + L"=" + v.second);
  out.push_back(L'\0');
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Paths, environment, text

std::wstring BinDir() {
  wchar_t path[MAX_PATH * 4] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring p(path, n);
  size_t slash = p.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : p.substr(0, slash);
}

std::wstring BinPath(const std::wstring& name) {
  return Join(BinDir(), name);
}

std::wstring FromHostPath(const std::wstring& path) {
  std::wstring p = path;
  std::replace(p.begin(), p.end(), L'/', L'\\');
  if (!path.empty() && path[0] == L'/') p = L"Z:" + p;
  return p;
}

std::wstring Env(const std::wstring& name) {
  DWORD n = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (n == 0) return L"";
  std::wstring value(n, L'\0');
  n = GetEnvironmentVariableW(name.c_str(), &value[0], n);
  value.resize(n);
  return value;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  }
  return out;
}

// ---------------------------------------------------------------------------------------------------------
// TempDir

TempDir::TempDir() {
  wchar_t base[MAX_PATH + 1] = {};
  DWORD n = GetTempPathW(MAX_PATH + 1, base);
  if (n == 0 || n > MAX_PATH) return;
  static LONG counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring candidate = Join(base, L"e2e-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                            std::to_wstring(InterlockedIncrement(&counter)) + L"-" +
                                            std::to_wstring(GetTickCount() % 100000));
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
}

TempDir::~TempDir() {
  if (!path_.empty()) RemoveTree(path_);
}

std::wstring TempDir::operator/(const std::wstring& relative) const {
  return Join(path_, relative);
}

bool TempDir::MakeDir(const std::wstring& relative) const {
  return Ok() && MakeDirs(Join(path_, relative));
}

bool TempDir::WriteFile(const std::wstring& relative, const std::string& bytes) const {
  if (!Ok()) return false;
  std::wstring path = Join(path_, relative);
  size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring::npos && !MakeDirs(path.substr(0, slash))) return false;
  Handle out(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.ok()) return false;
  DWORD written = 0;
  return ::WriteFile(out.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool TempDir::Exists(const std::wstring& relative) const {
  return Ok() && GetFileAttributesW(Join(path_, relative).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::string> TempDir::ReadFile(const std::wstring& relative) const {
  if (!Ok()) return std::nullopt;
  Handle in(CreateFileW(Join(path_, relative).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!in.ok()) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (::ReadFile(in.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
  return bytes;
}

bool RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(Join(path, L"*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = Join(path, name);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

// ---------------------------------------------------------------------------------------------------------
// Message boxes

const char* ToString(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::None:
      return "none";
    case BoxIcon::Error:
      return "error";
    case BoxIcon::Question:
      return "question";
    case BoxIcon::Warning:
      return "warning";
    case BoxIcon::Information:
      return "information";
    case BoxIcon::Unknown:
      break;
  }
  return "unknown";
}

bool MessageBoxInfo::Has(int buttonId) const {
  return std::find(buttons.begin(), buttons.end(), buttonId) != buttons.end();
}

// ---------------------------------------------------------------------------------------------------------
// DialogWindow

bool DialogWindow::Showing() const {
  return hwnd_ && IsWindow(hwnd_) && IsWindowVisible(hwnd_);
}

HWND DialogWindow::Item(int id) const {
  if (!hwnd_) return nullptr;
  HWND item = GetDlgItem(hwnd_, id);
  // An unnumbered static is 0xFFFF in a DIALOG template and -1 in a DIALOGEX template.
  if (!item && (id == kMessageBoxTextId || id == -1))
    item = GetDlgItem(hwnd_, id == -1 ? kMessageBoxTextId : -1);
  return item;
}

std::wstring DialogWindow::Title() const {
  return hwnd_ ? WindowText(hwnd_) : std::wstring();
}

std::wstring DialogWindow::Text(int id) const {
  HWND item = Item(id);
  return item ? WindowText(item) : std::wstring();
}

bool DialogWindow::Visible(int id) const {
  HWND item = Item(id);
  return item && IsWindowVisible(item);
}

bool DialogWindow::Enabled(int id) const {
  HWND item = Item(id);
  return item && IsWindowEnabled(item);
}

std::wstring DialogWindow::ClassName(int id) const {
  HWND item = Item(id);
  return item ? ClassOf(item) : std::wstring();
}

LONG DialogWindow::Style(int id) const {
  HWND item = Item(id);
  return item ? GetWindowLongW(item, GWL_STYLE) : 0;
}

bool DialogWindow::SetText(int id, const std::wstring& text) const {
  HWND item = Item(id);
  DWORD_PTR result = 0;
  return item && Send(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &result) && result;
}

int DialogWindow::ProgressPos(int id) const {
  HWND item = Item(id);
  DWORD_PTR pos = 0;
  if (!item || !Send(item, PBM_GETPOS, 0, 0, &pos)) return -1;
  return static_cast<int>(pos);
}

std::pair<int, int> DialogWindow::ProgressRange(int id) const {
  HWND item = Item(id);
  DWORD_PTR low = 0, high = 0;
  if (!item || !Send(item, PBM_GETRANGE, TRUE, 0, &low) || !Send(item, PBM_GETRANGE, FALSE, 0, &high)) {
    return {-1, -1};
  }
  return {static_cast<int>(low), static_cast<int>(high)};
}

int DialogWindow::ListCount(int id) const {
  HWND item = Item(id);
  DWORD_PTR count = 0;
  if (!item || !Send(item, LVM_GETITEMCOUNT, 0, 0, &count)) return -1;
  return static_cast<int>(count);
}

std::wstring DialogWindow::ListItem(int id, int row, int column) const {
  HWND list = Item(id);
  if (!list || !process_) return std::wstring();
  // The item structure and the text buffer must live in the list's process.
  constexpr int kMaxChars = 4096;
  RemoteBuffer remote(process_, sizeof(LVITEMW) + kMaxChars * sizeof(wchar_t));
  if (!remote.ok()) return std::wstring();
  LVITEMW item = {};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.iSubItem = column;
  item.pszText = reinterpret_cast<LPWSTR>(remote.At(sizeof(LVITEMW)));
  item.cchTextMax = kMaxChars;
  if (!remote.Write(0, &item, sizeof(item))) return std::wstring();
  DWORD_PTR length = 0;
  if (!Send(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote.At(0)), &length))
    return std::wstring();
  // The list may point pszText at its own copy instead of filling the buffer.
  if (!remote.Read(remote.At(0), &item, sizeof(item)) || !item.pszText) return std::wstring();
  length = std::min<DWORD_PTR>(length, kMaxChars - 1);
  std::wstring text(length, L'\0');
  if (length > 0 && !remote.Read(item.pszText, &text[0], length * sizeof(wchar_t))) return std::wstring();
  return text;
}

std::vector<std::wstring> DialogWindow::ListItems(int id, int column) const {
  std::vector<std::wstring> rows;
  int count = ListCount(id);
  for (int row = 0; row < count; ++row) rows.push_back(ListItem(id, row, column));
  return rows;
}

std::wstring DialogWindow::RichText(int id) const {
  HWND edit = Item(id);
  if (!edit || !process_) return std::wstring();
  constexpr int kMaxChars = 65536;
  RemoteBuffer remote(process_, sizeof(GETTEXTEX) + kMaxChars * sizeof(wchar_t));
  if (!remote.ok()) return std::wstring();
  GETTEXTEX request = {};
  request.cb = kMaxChars * sizeof(wchar_t);
  request.flags = GT_DEFAULT;
  request.codepage = 1200;  // UTF-16
  if (!remote.Write(0, &request, sizeof(request))) return std::wstring();
  DWORD_PTR length = 0;
  if (!Send(edit, EM_GETTEXTEX, reinterpret_cast<WPARAM>(remote.At(0)),
            reinterpret_cast<LPARAM>(remote.At(sizeof(GETTEXTEX))), &length)) {
    return std::wstring();
  }
  length = std::min<DWORD_PTR>(length, kMaxChars - 1);
  std::wstring text(length, L'\0');
  if (length > 0 && !remote.Read(remote.At(sizeof(GETTEXTEX)), &text[0], length * sizeof(wchar_t))) {
    return std::wstring();
  }
  return text;
}

bool DialogWindow::Click(int id) const {
  HWND item = Item(id);
  // A user cannot press what is hidden or disabled, nor anything under a modal box (the dialog is disabled).
  if (!item || !IsWindowVisible(item) || !IsWindowEnabled(item) || !IsWindowEnabled(hwnd_)) return false;
  return PostMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(item)) != 0;
}

bool DialogWindow::PressButton(int id) const {
  HWND item = Item(id);
  if (!item || !IsWindowVisible(item) || !IsWindowEnabled(item) || !IsWindowEnabled(hwnd_)) return false;
  return PostMessageW(item, BM_CLICK, 0, 0) != 0;
}

bool DialogWindow::SendCommand(int id, WORD notification) const {
  return hwnd_ && PostMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(id, notification),
                               reinterpret_cast<LPARAM>(Item(id))) != 0;
}

bool DialogWindow::PressKey(UINT virtualKey) const {
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC)) << 16;
  const LPARAM up = static_cast<LPARAM>(0xC0000000u);  // previous state down, transition up
  // On a loaded machine the focus can be between windows for a moment: a few tries, then the dialog.
  for (int attempt = 0; attempt < 20; ++attempt, Sleep(50)) {
    if (!Showing()) continue;
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof(gui);
    HWND target = hwnd_;
    if (attempt < 10 && GetGUIThreadInfo(GetWindowThreadProcessId(hwnd_, nullptr), &gui) && gui.hwndFocus &&
        IsChild(hwnd_, gui.hwndFocus)) {
      target = gui.hwndFocus;
    }
    if (PostMessageW(target, WM_KEYDOWN, virtualKey, 1 | scan)) {
      // The key down may already have closed the window (Escape in a modal dialog): the press was delivered.
      PostMessageW(target, WM_KEYUP, virtualKey, 1 | scan | up);
      return true;
    }
  }
  return false;
}

bool DialogWindow::PressCloseBox() const {
  // No system menu, no close box.
  if (!Showing() || !(GetWindowLongW(hwnd_, GWL_STYLE) & WS_SYSMENU)) return false;
  return PostMessageW(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0) != 0;
}

bool DialogWindow::Activate(DWORD timeoutMs) const {
  if (!Showing()) return false;
  const DWORD start = GetTickCount();
  for (;;) {
    SetForegroundWindow(hwnd_);
    if (GetForegroundWindow() == hwnd_) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(kPollMs);
  }
}

bool DialogWindow::Screenshot(const std::wstring& bmpPath) const {
  if (!Showing()) return false;
  RECT r;
  if (!GetWindowRect(hwnd_, &r)) return false;
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  ScreenDC screen;
  Canvas image(screen.get(), w, h, 24);
  if (!image.ok()) return false;
  auto grab = [&] { return BitBlt(image.dc(), 0, 0, w, h, screen.get(), r.left, r.top, SRCCOPY) != FALSE; };
  // When another program's window stays in front, the picture is taken as it is: it is for people to look at.
  if (!CaptureInFront(hwnd_, r, grab) && !grab()) return false;
  GdiFlush();
  return WriteBmp24(bmpPath, image.bits(), w, h);
}

std::wstring DialogWindow::Describe() const {
  if (!hwnd_) return L"(no dialog)\n";
  std::wstring out = L"dialog " + Hex(reinterpret_cast<ULONG_PTR>(hwnd_)) + L" \"" + Title() + L"\"" +
                     (IsWindowVisible(hwnd_) ? L" visible" : L" hidden") +
                     (IsWindowEnabled(hwnd_) ? L"" : L" disabled") + L"\n";
  for (HWND child : Children(hwnd_)) {
    out += L"  id " + std::to_wstring(GetDlgCtrlID(child)) + L" " + ClassOf(child) +
           (IsWindowVisible(child) ? L" visible" : L" hidden") +
           (IsWindowEnabled(child) ? L"" : L" disabled") + L" \"" + WindowText(child) + L"\"\n";
  }
  return out;
}

// ---------------------------------------------------------------------------------------------------------
// Installer

std::unique_ptr<Installer> Installer::Start(const std::wstring& exePath, const std::wstring& args,
                                            std::wstring* error) {
  StartOptions options;
  options.args = args;
  return Start(exePath, options, error);
}

std::unique_ptr<Installer> Installer::Start(const std::wstring& exePath, const StartOptions& options,
                                            std::wstring* error) {
  std::wstring commandLine = L"\"" + exePath + L"\"";
  if (!options.args.empty()) commandLine += L" " + options.args;
  std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back(L'\0');
  std::vector<wchar_t> environment;
  if (!options.env.empty()) environment = EnvironmentBlock(options.env);

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION info = {};
  DWORD flags = CREATE_SUSPENDED | (environment.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT);
  const auto create = [&] {
    return CreateProcessW(exePath.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, flags,
                          environment.empty() ? nullptr : environment.data(),
                          options.workDir.empty() ? nullptr : options.workDir.c_str(), &startup, &info);
  };
  // Under Wine a start very rarely fails at once (seen once in many runs of the suite): one more try.
  if (!create() && (Sleep(200), !create())) {
    if (error) *error = L"cannot start " + exePath + L": " + ErrorText(GetLastError());
    return nullptr;
  }
  // Everything the program starts in turn (a browser, the client) ends with the test program too: the job
  // is closed when the test program ends, however it ends.
  static HANDLE job = [] {
    HANDLE j = CreateJobObjectW(nullptr, nullptr);
    if (j) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
      limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      SetInformationJobObject(j, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    }
    return j;
  }();
  if (job) AssignProcessToJobObject(job, info.hProcess);
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  return std::unique_ptr<Installer>(new Installer(info.hProcess, info.dwProcessId));
}

Installer::~Installer() {
  if (Running()) Terminate();
  CloseHandle(process_);
}

bool Installer::Running() const {
  return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

void Installer::Terminate() {
  if (!Running()) return;
  TerminateProcess(process_, kTerminatedExitCode);
  WaitForSingleObject(process_, 5000);
}

bool Installer::WaitUntil(const std::function<bool()>& cond, DWORD timeoutMs) const {
  const DWORD bound = Bound(timeoutMs);
  const DWORD start = GetTickCount();
  for (;;) {
    if (cond()) return true;
    if (!Running()) return cond();
    if (GetTickCount() - start >= bound) return false;
    Sleep(kPollMs);
  }
}

bool Installer::WaitForText(int id, const std::wstring& text, DWORD timeoutMs) const {
  return WaitUntil([&] { return Text(id) == text; }, timeoutMs);
}

bool Installer::WaitForVisible(int id, bool visible, DWORD timeoutMs) const {
  return WaitUntil([&] { return Visible(id) == visible; }, timeoutMs);
}

bool Installer::WaitForDialog(DWORD timeoutMs) {
  return WaitUntil(
      [this] {
        if (Showing()) return true;
        for (HWND w : TopLevelWindows(pid_)) {
          if (IsWindowVisible(w) && IsDialogClass(w) && !GetWindow(w, GW_OWNER) && !IsMessageBox(w)) {
            hwnd_ = w;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
}

std::optional<MessageBoxInfo> Installer::FindMessageBox() const {
  // EnumWindows lists from the top of the z-order: the first box found is the one in front.
  for (HWND w : TopLevelWindows(pid_)) {
    if (w != hwnd_ && IsWindowVisible(w) && IsMessageBox(w)) return ReadMessageBox(w);
  }
  return std::nullopt;
}

std::optional<MessageBoxInfo> Installer::WaitForMessageBox(DWORD timeoutMs) const {
  HWND box = nullptr;
  WaitUntil(
      [&] {
        for (HWND w : TopLevelWindows(pid_)) {
          if (w != hwnd_ && IsWindowVisible(w) && IsMessageBox(w)) {
            box = w;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  if (!box) return std::nullopt;
  return ReadMessageBox(box);
}

bool Installer::Answer(const MessageBoxInfo& box, int buttonId, DWORD timeoutMs) const {
  if (!box.Has(buttonId) || !IsWindow(box.hwnd)) return false;
  HWND button = GetDlgItem(box.hwnd, buttonId);
  if (!PostMessageW(box.hwnd, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                    reinterpret_cast<LPARAM>(button))) {
    return false;
  }
  return WaitUntil([&] { return !IsWindow(box.hwnd) || !IsWindowVisible(box.hwnd); }, timeoutMs);
}

std::optional<DialogWindow> Installer::WaitForOtherDialog(DWORD timeoutMs) const {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (HWND w : TopLevelWindows(pid_)) {
          if (w != hwnd_ && IsWindowVisible(w) && IsDialogClass(w) && !IsMessageBox(w)) {
            found = w;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  if (!found) return std::nullopt;
  return DialogWindow(found, process_);
}

std::optional<DWORD> Installer::WaitForExit(DWORD timeoutMs) {
  if (WaitForSingleObject(process_, Bound(timeoutMs)) != WAIT_OBJECT_0) {
    Terminate();
    return std::nullopt;
  }
  return ExitCode();
}

std::optional<DWORD> Installer::ExitCode() const {
  DWORD code = 0;
  if (Running() || !GetExitCodeProcess(process_, &code)) return std::nullopt;
  return code;
}

std::wstring Installer::Describe() const {
  std::wstring out = L"process " + std::to_wstring(pid_);
  if (auto code = ExitCode()) {
    out += L" ended with exit code " + std::to_wstring(*code) + L" (0x" + Hex(*code) + L")\n";
    return out;
  }
  out += L" running; top-level windows:\n";
  for (HWND w : TopLevelWindows(pid_)) {
    HWND owner = GetWindow(w, GW_OWNER);
    out += L"  " + Hex(reinterpret_cast<ULONG_PTR>(w)) + L" " + ClassOf(w) + L" \"" + WindowText(w) + L"\"" +
           (IsWindowVisible(w) ? L" visible" : L" hidden") +
           (owner ? L" owned by " + Hex(reinterpret_cast<ULONG_PTR>(owner)) : L"") +
           (w == hwnd_        ? L" (main dialog)"
            : IsMessageBox(w) ? L" (message box)"
                              : L"") +
           L"\n";
  }
  return out + DialogWindow::Describe();
}

}  // namespace e2e
