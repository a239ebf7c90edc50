// patchw32.dll under Wine, loaded and called exactly as the installer does: bound by the decorated
// names, called through standard-call pointers with an ANSI command line whose second path has no
// closing quote, and answered by a plain standard-call callback on the calling thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "CallLog.h"
#include "EngineScript.h"
#include "RemoveTree.h"
#include "engine/EngineAbi.h"
#include "engine/build/Builder.h"
#include "engine/format/PatchFormat.h"
#include "engine/fs/WinFileSystem.h"

namespace {

namespace fs = std::filesystem;

using ApplyFunction = rtp::ApplyFn;
using CostFunction = rtp::GetCostFn;

constexpr size_t kCommandLineBuffer = rtp::kCommandLineSize;
const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

// Patch name ("bin\zav.exe") to contents.
using Tree = std::map<std::string, std::string>;

std::string RandomBytes(uint32_t seed, size_t length) {
  std::mt19937 random(seed);
  std::string bytes(length, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

std::string Ansi(const std::wstring& text) {
  std::string out;
  EXPECT_TRUE(Narrow(text, CP_ACP, &out));
  return out;
}

std::wstring ExeFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.rfind(L'\\'));
}

std::string ReadFileBytes(const fs::path& path) {
  rtp::Buffer buffer;
  if (!rtp::ReadWholeFile(path.wstring(), &buffer)) return "<unreadable>";
  return std::string(reinterpret_cast<const char*>(buffer.data()), buffer.size());
}

void WriteFileBytes(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  ASSERT_TRUE(rtp::WriteWholeFile(path.wstring(), rtp::ByteView(bytes))) << path;
}

// Through the engine's own file system: names are UTF-8, and paths may pass MAX_PATH.
void WriteTree(const fs::path& root, const Tree& tree) {
  fs::create_directories(root);
  rtp::WinFileSystem folder(root.wstring());
  for (const auto& file : tree) {
    std::unique_ptr<rtp::Sink> sink;
    ASSERT_EQ(folder.Create(file.first, &sink), rtp::FsStatus::Ok) << file.first;
    ASSERT_TRUE(sink->WriteAt(0, rtp::ByteView(file.second)) && sink->Close()) << file.first;
  }
}

Tree ReadTree(const fs::path& root) {
  Tree tree;
  rtp::WinFileSystem folder(root.wstring());
  std::vector<std::string> names;
  EXPECT_TRUE(folder.List(&names));
  for (const std::string& name : names) {
    std::unique_ptr<rtp::Source> file;
    std::string& bytes = tree[name];
    if (folder.OpenRead(name, &file) != rtp::FsStatus::Ok) {
      bytes = "<unreadable>";
      continue;
    }
    bytes.resize(static_cast<size_t>(file->Size()));
    if (!bytes.empty() && !file->ReadAt(0, reinterpret_cast<uint8_t*>(&bytes[0]), bytes.size()))
      bytes = "<unreadable>";
  }
  return tree;
}

class Library {
 public:
  explicit Library(const std::wstring& name)
      : mModule(::LoadLibraryW((ExeFolder() + L"\\" + name).c_str())) {}
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  ~Library() {
    if (mModule) ::FreeLibrary(mModule);
  }
  HMODULE Get() const { return mModule; }
  // Untyped, as GetProcAddress gives it; the caller casts to the entry point's own type.
  void* Proc(const char* name) const {
    return mModule ? reinterpret_cast<void*>(::GetProcAddress(mModule, name)) : nullptr;
  }

 private:
  HMODULE mModule;
};

// What the callback saw.
struct Call {
  unsigned id = 0;
  bool hasParam = false;
  std::string text;
  uint32_t number = 0;
  DWORD thread = 0;
  DWORD tick = 0;
};

std::ostream& operator<<(std::ostream& out, const Call& call) {
  out << call.id;
  if (!call.hasParam) return out << " (null)";
  if (!call.text.empty()) return out << " \"" << call.text << "\"";
  return out << " 0x" << std::hex << call.number << std::dec;
}

struct Recorder : CallLog<Call> {
  size_t nullAt = 0;  // the call (from 1) answered with null
  std::function<void(const Call&)> hook;
};

Recorder* gRecorder = nullptr;
// What the installer answers to go on: a pointer to an empty 8-bit text.
char gGoOn[] = "";

void* RTPATCH_CALL RecordingCallback(uint32_t id, void* param) {
  Call call;
  call.id = id;
  call.hasParam = param != nullptr;
  call.thread = ::GetCurrentThreadId();
  call.tick = ::GetTickCount();
  if (param && (id == 1 || id == 2 || id == 3 || id == 4 || id == 7 || id == 9))
    call.text = static_cast<const char*>(param);
  if (param && (id == 5 || id == 6)) call.number = *static_cast<const uint32_t*>(param);
  gRecorder->calls.push_back(call);
  if (gRecorder->hook) gRecorder->hook(call);
  return gRecorder->calls.size() == gRecorder->nullAt ? nullptr : gGoOn;
}

// Pushes `count` 32-bit arguments (the last first), calls `function` and returns how many bytes of them
// are still on the stack afterwards: 0 when the callee removed them, as a standard-call function does.
__attribute__((noinline)) uint32_t BytesLeftOnStack(const void* function, const uint32_t* args,
                                                    uint32_t count) {
  uint32_t left;
  __asm__ volatile(
      "movl %%esp, %%esi\n\t"
      "movl %[count], %%ecx\n\t"
      "1:\n\t"
      "testl %%ecx, %%ecx\n\t"
      "jz 2f\n\t"
      "pushl -4(%[args],%%ecx,4)\n\t"
      "decl %%ecx\n\t"
      "jmp 1b\n\t"
      "2:\n\t"
      "call *%[function]\n\t"
      "movl %%esi, %%eax\n\t"
      "subl %%esp, %%eax\n\t"
      "movl %%esi, %%esp\n\t"
      : "=&a"(left)
      : [function] "r"(function), [args] "r"(args), [count] "m"(count)
      : "ecx", "edx", "esi", "memory", "cc");
  return left;
}

// Two functions of the same three arguments for the probe above, one of each calling convention.
__attribute__((noinline)) uint32_t __cdecl SumCdecl(uint32_t a, uint32_t b, uint32_t c) {
  return a + b + c;
}
__attribute__((noinline)) uint32_t __stdcall SumStdcall(uint32_t a, uint32_t b, uint32_t c) {
  return a + b + c;
}

// The pairs of PendingFileRenameOperations: source, then destination ("" to delete, "!" first to
// replace an existing file).
std::vector<std::pair<std::wstring, std::wstring>> PendingRenames() {
  std::vector<std::pair<std::wstring, std::wstring>> pairs;
  HKEY key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return pairs;
  DWORD type = 0, size = 0;
  if (::RegQueryValueExW(key, kPendingRenames, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size) {
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 1, L'\0');
    ::RegQueryValueExW(key, kPendingRenames, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size);
    std::vector<std::wstring> strings;
    const size_t count = size / sizeof(wchar_t);
    for (size_t i = 0; i < count;) {
      const std::wstring item(value.data() + i);
      strings.push_back(item);
      i += item.size() + 1;
    }
    for (size_t i = 0; i + 1 < strings.size(); i += 2) pairs.emplace_back(strings[i], strings[i + 1]);
  }
  ::RegCloseKey(key);
  return pairs;
}

// Whether `part` occurs in `text`, ignoring case (paths).
bool Mentions(std::wstring text, std::wstring part) {
  if (!text.empty()) ::CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
  if (!part.empty()) ::CharLowerBuffW(&part[0], static_cast<DWORD>(part.size()));
  return text.find(part) != std::wstring::npos;
}

// Takes our own entries out again, so no later start of this prefix's server carries them out.
void ForgetPendingRenamesUnder(const std::wstring& folder) {
  std::wstring kept;
  for (const auto& pair : PendingRenames()) {
    if (Mentions(pair.first, folder)) continue;
    kept += pair.first + L'\0' + pair.second + L'\0';
  }
  HKEY key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  if (kept.empty()) {
    ::RegDeleteValueW(key, kPendingRenames);
  } else {
    kept += L'\0';
    ::RegSetValueExW(key, kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                     static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
  }
  ::RegCloseKey(key);
}

class PatchW32 : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    // Wine reuses process ids: a folder a killed run left is never reused.
    static int serial = 0;
    do {
      root = fs::path(temp) /
             (L"rtpw32-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++serial));
    } while (!::CreateDirectoryW(root.c_str(), nullptr));
    // The client folder's name is Chinese, so the command line is real code-page-936 text.
    client = root / L"\u6e38\u620f\u5ba2\u6237\u7aef";
    patchPath = root / L"s1.1" / L"zav.2.12.4526-2.12.4536.rtp";

    const std::string exe = RandomBytes(51, 70000);
    std::string newExe = exe;
    newExe.replace(35000, 17, "version 2.12.4536");
    before = {{"bin\\zav.exe", exe},
              {"common.ini", "build=4526\r\n"},
              {"junk\\gone.txt", "obsolete"},
              {"same.txt", "unchanged"}};
    after = before;
    after.erase("junk\\gone.txt");
    after["bin\\zav.exe"] = newExe;
    after["common.ini"] = "build=4536\r\n";
    after["data\\new.pak"] = RandomBytes(52, 3000);
    gRecorder = &recorder;
    ASSERT_NE(library.Get(), nullptr) << "patchw32.dll does not load: " << ::GetLastError();
    apply = reinterpret_cast<ApplyFunction>(library.Proc(rtp::kApplyEntry));
    cost = reinterpret_cast<CostFunction>(library.Proc(rtp::kGetCostEntry));
    ASSERT_NE(apply, nullptr);
    ASSERT_NE(cost, nullptr);
  }

  void TearDown() override {
    gRecorder = nullptr;
    ForgetPendingRenamesUnder(root.wstring());
    RemoveTree(L"\\\\?\\" + root.wstring());
  }

  // Writes the patch between `before` and `after` and the client at `before`.
  void Prepare() {
    WriteTree(root / L"old", before);
    WriteTree(root / L"new", after);
    WriteTree(client, before);
    rtp::WinFileSystem oldTree((root / L"old").wstring());
    rtp::WinFileSystem newTree((root / L"new").wstring());
    rtp::Buffer patch;
    std::string error;
    ASSERT_TRUE(rtp::BuildPatch(oldTree, newTree, {}, &patch, nullptr, &error)) << error;
    fs::create_directories(patchPath.parent_path());
    ASSERT_TRUE(rtp::WriteWholeFile(patchPath.wstring(), patch.view()));
  }

  // As Prepare, with the script `lines` played by the scripted test engine around the real run.
  void PrepareScripted(const std::string& lines) {
    Prepare();
    WriteFileBytes(patchPath, enginetest::ScriptedPatch(lines, ReadFileBytes(patchPath)));
    apply = reinterpret_cast<ApplyFunction>(scripted.Proc(rtp::kApplyEntry));
    ASSERT_NE(apply, nullptr);
  }

  // The installer's command line: "\"%s\" \"%s" in the ANSI code page, in a 520-byte buffer.
  void FillCommandLine(char (&buffer)[kCommandLineBuffer], const std::wstring& folder,
                       const std::wstring& patch) {
    const std::wstring text = L"\"" + folder + L"\" \"" + patch;
    std::memset(buffer, 0, sizeof buffer);
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, buffer, sizeof buffer, nullptr, nullptr);
  }

  uint32_t Apply() {
    char commandLine[kCommandLineBuffer];
    FillCommandLine(commandLine, client.wstring(), patchPath.wstring());
    return apply(commandLine, RecordingCallback, 1);
  }

  bool HasTempFiles() {
    for (const auto& file : ReadTree(client))
      if (file.first.find(".~tp") != std::string::npos) return true;  // staged, kept or journal
    return false;
  }

  Library library{L"patchw32.dll"};
  Library scripted{L"patchw32_scripted.dll"};
  ApplyFunction apply = nullptr;
  CostFunction cost = nullptr;
  Recorder recorder;
  fs::path root, client, patchPath;
  Tree before, after;
};

TEST(PatchW32Exports, TheLibraryExportsBothEntryPointsUnderTheirStdcallNamesOnly) {
  Library library(L"patchw32.dll");
  ASSERT_NE(library.Get(), nullptr);
  EXPECT_NE(library.Proc("RTPatchApply32@12"), nullptr);
  EXPECT_NE(library.Proc("RTPatchGetCost@24"), nullptr);
  EXPECT_EQ(library.Proc("RTPatchApply32"), nullptr);
  EXPECT_EQ(library.Proc("RTPatchGetCost"), nullptr);
  EXPECT_EQ(library.Proc("_RTPatchApply32@12"), nullptr);
}

TEST(PatchW32Exports, TheVariantsLackExactlyOneEntryPointEach) {
  Library noCost(L"patchw32_nocost.dll");
  ASSERT_NE(noCost.Get(), nullptr);
  EXPECT_NE(noCost.Proc("RTPatchApply32@12"), nullptr);
  EXPECT_EQ(noCost.Proc("RTPatchGetCost@24"), nullptr);
  Library noApply(L"patchw32_noapply.dll");
  ASSERT_NE(noApply.Get(), nullptr);
  EXPECT_EQ(noApply.Proc("RTPatchApply32@12"), nullptr);
  EXPECT_NE(noApply.Proc("RTPatchGetCost@24"), nullptr);
}

TEST(PatchW32StackProbe, TellsACallerCleanedFunctionFromACalleeCleanedOne) {
  const uint32_t args[3] = {1, 2, 3};
  EXPECT_EQ(BytesLeftOnStack(reinterpret_cast<const void*>(&SumCdecl), args, 3), 12u);
  EXPECT_EQ(BytesLeftOnStack(reinterpret_cast<const void*>(&SumStdcall), args, 3), 0u);
}

TEST_F(PatchW32, BothEntryPointsRemoveTheirOwnArgumentsFromTheStack) {
  Prepare();
  uint32_t results[4] = {};
  const std::wstring path = patchPath.wstring();
  const uint32_t costArgs[6] = {
      reinterpret_cast<uint32_t>(path.c_str()), reinterpret_cast<uint32_t>(&results[0]),
      reinterpret_cast<uint32_t>(&results[1]),  reinterpret_cast<uint32_t>(&results[2]),
      reinterpret_cast<uint32_t>(&results[3]),  0};
  EXPECT_EQ(BytesLeftOnStack(reinterpret_cast<const void*>(cost), costArgs, 6), 0u);
  EXPECT_EQ(results[3], 4u) << "the call did its work";

  char commandLine[kCommandLineBuffer];
  FillCommandLine(commandLine, client.wstring(), path);
  const uint32_t applyArgs[3] = {reinterpret_cast<uint32_t>(commandLine),
                                 reinterpret_cast<uint32_t>(&RecordingCallback), 1};
  EXPECT_EQ(BytesLeftOnStack(reinterpret_cast<const void*>(apply), applyArgs, 3), 0u);
  EXPECT_EQ(ReadTree(client), after) << recorder.Dump();
}

// The patch owns the client's files: read-only ones are replaced and deleted like any other.
TEST_F(PatchW32, ReadOnlyHiddenAndSystemFilesAreReplacedAndDeleted) {
  // A hidden file refuses to be opened for writing without its attributes: it is moved aside instead.
  for (DWORD attributes : {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}) {
    if (fs::exists(client))
      for (const auto& file : fs::recursive_directory_iterator(client))
        ::SetFileAttributesW(file.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(client);
    Prepare();
    for (const wchar_t* name : {L"bin\\zav.exe", L"common.ini", L"junk\\gone.txt"})
      ASSERT_TRUE(::SetFileAttributesW((client / name).c_str(), attributes));
    EXPECT_EQ(Apply(), 0u) << attributes << recorder.Dump();
    EXPECT_EQ(ReadTree(client), after) << attributes;
  }
}

TEST_F(PatchW32, ApplyingTurnsTheClientIntoTheNewVersionWithTheCallbacksTheInstallerCounts) {
  Prepare();
  const std::string commandLine = "\"" + Ansi(client.wstring()) + "\" \"" + Ansi(patchPath.wstring());
  ASSERT_EQ(commandLine.back(), 'p') << "no closing quote";
  EXPECT_EQ(Apply(), 0u) << recorder.Dump();
  EXPECT_EQ(ReadTree(client), after);

  ASSERT_FALSE(recorder.calls.empty());
  EXPECT_EQ(recorder.calls[0].id, 6u);
  EXPECT_EQ(recorder.calls[0].number, 4u);
  std::vector<std::string> started;
  for (const Call& call : recorder.Of(7)) started.push_back(call.text);
  EXPECT_EQ(started,
            (std::vector<std::string>{"junk\\gone.txt", "bin\\zav.exe", "common.ini", "data\\new.pak"}));
  // Each file's progress rises to 0x8000 in the low 16 bits before the next file starts.
  uint32_t last = 0;
  int files = 0;
  for (const Call& call : recorder.calls) {
    EXPECT_EQ(call.thread, ::GetCurrentThreadId()) << "callbacks come on the caller's thread";
    if (call.id == 7) {
      if (files++) {
        EXPECT_EQ(last, 0x8000u);
      }
      last = 0;
    }
    if (call.id == 5) {
      EXPECT_GE(call.number & 0xFFFF, last);
      last = call.number & 0xFFFF;
    }
  }
  EXPECT_EQ(last, 0x8000u);
  EXPECT_EQ(recorder.Of(9).size(), 4u);
  EXPECT_TRUE(recorder.Of(3).empty());
}

TEST_F(PatchW32, ChineseNamesInFoldersBeyondMaxPathApplyAndAreCalledBackInTheAnsiCodePage) {
  const std::wstring maps = L"\u5730\u56fe.pak";  // 地图.pak
  std::wstring deep;
  for (int i = 0; i < 30; ++i) deep += L"\u76ee\u5f55\u76ee\u5f55\u76ee\u5f55\u76ee\u5f55\\";  // 目录...
  deep += L"\u6df1.pak";
  std::string mapsName, deepName;
  ASSERT_TRUE(Narrow(maps, CP_UTF8, &mapsName) && Narrow(deep, CP_UTF8, &deepName));
  ASSERT_GT((client / deep).wstring().size(), static_cast<size_t>(MAX_PATH));
  before[mapsName] = RandomBytes(53, 5000);
  after[mapsName] = before[mapsName] + "more";
  before[deepName] = "old";
  after[deepName] = "new and longer";
  Prepare();
  EXPECT_EQ(Apply(), 0u) << recorder.Dump();
  EXPECT_EQ(ReadTree(client), after);
  std::vector<std::string> started;
  for (const Call& call : recorder.Of(7)) started.push_back(call.text);
  EXPECT_NE(std::find(started.begin(), started.end(), Ansi(maps)), started.end()) << "code page 936";
  // Wine takes long paths as they are; Windows only in the long form.
  EXPECT_EQ(rtp::WinFileSystem(client.wstring()).PathOf(deepName).rfind(L"\\\\?\\", 0), 0u);
}

TEST_F(PatchW32, ANullAnswerStopsTheEngineAtOnceAndLeavesTheFileItWasWorkingOn) {
  Prepare();
  recorder.hook = [&](const Call& call) {
    // Stop on the executable's progress once its new version is written beside it.
    if (call.id == 5 && (call.number & 0xFFFF) == 0x6000 && recorder.Of(7).back().text == "bin\\zav.exe")
      recorder.nullAt = recorder.calls.size();
  };
  EXPECT_NE(Apply(), 0u);
  ASSERT_EQ(recorder.calls.size(), recorder.nullAt) << "a callback came after the stop";
  const Tree result = ReadTree(client);
  EXPECT_EQ(result.at("bin\\zav.exe"), before.at("bin\\zav.exe"));
  EXPECT_EQ(result.at("common.ini"), before.at("common.ini"));
  EXPECT_FALSE(HasTempFiles());
}

TEST_F(PatchW32, AMissingClientFileIsReportedAsEpt15BeforeAnythingChanges) {
  Prepare();
  fs::remove(client / L"common.ini");
  EXPECT_EQ(Apply(), 15u);
  // The patch names the file by the hash of its name: the error gives its size and that hash.
  const std::string missing = "Error ept15: file not found: an old file of 12 bytes (name hash ";
  EXPECT_EQ(recorder.Ids(), (std::vector<unsigned>{6, 3}));
  EXPECT_EQ(recorder.calls[1].text.rfind(missing, 0), 0u) << recorder.calls[1].text;
  EXPECT_EQ(ReadFileBytes(client / L"junk" / L"gone.txt"), "obsolete") << "nothing was changed";
  fs::create_directory(client / L"common.ini");  // a folder in its place is no file either
  recorder.calls.clear();
  EXPECT_EQ(Apply(), 15u);
  EXPECT_EQ(recorder.calls.back().text.rfind(missing, 0), 0u) << recorder.calls.back().text;
}

TEST_F(PatchW32, AChangedClientFileIsReportedAsEpt36) {
  Prepare();
  std::string exe = before.at("bin\\zav.exe");
  exe[10] = static_cast<char>(~exe[10]);
  WriteFileBytes(client / L"bin" / L"zav.exe", exe);
  EXPECT_EQ(Apply(), 36u);
  EXPECT_EQ(recorder.calls.back().text, "Error ept36: file does not match (size or CRC-32): bin\\zav.exe");
}

TEST_F(PatchW32, DamagedTruncatedForeignAndMissingPatchesAreReportedWithTheirNumbers) {
  Prepare();
  const std::string good = ReadFileBytes(patchPath);
  std::string version = good;
  version[8] = 8;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {good.substr(0, good.size() - 10), "Error ept9: patch file is corrupt: truncated"},
      {"MZ not a patch at all", "Error ept9: patch file is corrupt: not a patch file"},
      {"", "Error ept9: patch file is corrupt"},
      {version, "Error ept8: incompatible patch file version: format version 8, this engine reads 2 to 7"},
  };
  for (const auto& c : cases) {
    WriteFileBytes(patchPath, c.first);
    recorder.calls.clear();
    EXPECT_NE(Apply(), 0u);
    ASSERT_EQ(recorder.Ids(), std::vector<unsigned>{3}) << c.second;
    EXPECT_EQ(recorder.calls[0].text.rfind(c.second, 0), 0u) << recorder.calls[0].text;
  }
  fs::remove(patchPath);
  recorder.calls.clear();
  EXPECT_EQ(Apply(), 10u);
  EXPECT_EQ(recorder.calls.at(0).text.rfind("Error ept10: patch file cannot be read: ", 0), 0u);
  EXPECT_EQ(ReadTree(client), before);
}

TEST_F(PatchW32, ACommandLineWithoutTwoPathsIsReportedAsEpt2) {
  char commandLine[kCommandLineBuffer] = "\"C:\\only\\one\\path";
  EXPECT_EQ(apply(commandLine, RecordingCallback, 1), 2u);
  ASSERT_EQ(recorder.Ids(), std::vector<unsigned>{3});
  EXPECT_EQ(recorder.calls[0].text.rfind("Error ept2: ", 0), 0u);
}

TEST_F(PatchW32, NoticesReachTheCallbackWithTheirEightBitTextsAndNullParameters) {
  const std::string chinese = Ansi(L"\u8b66\u544a");  // "warning" in code page 936
  PrepareScripted("notify-warning " + chinese +
                  "\nnotify-warning2 two\nnotify-warning4 four\nnotify-detail a detail line\n"
                  "notify-locked 26\nnotify-locked 28\nnotify 5:0x9000\n");
  EXPECT_EQ(Apply(), 0u);
  const std::vector<Call> notices(recorder.calls.begin() + 1, recorder.calls.begin() + 8);
  EXPECT_EQ(notices[0].id, 1u);
  EXPECT_EQ(notices[0].text, chinese);
  EXPECT_EQ(notices[0].text.size(), 4u);
  EXPECT_EQ(notices[1].text, "two");
  EXPECT_EQ(notices[2].id, 4u);
  EXPECT_EQ(notices[3].text, "a detail line");
  EXPECT_EQ(notices[4].id, 26u);
  EXPECT_FALSE(notices[4].hasParam);
  EXPECT_EQ(notices[5].id, 28u);
  EXPECT_FALSE(notices[5].hasParam);
  EXPECT_EQ(notices[6].number, 0x9000u);
  EXPECT_EQ(ReadTree(client), after);
}

TEST_F(PatchW32, AFileLockedWhileTheEngineRunsIsReplacedAtTheRestartAndReported26) {
  Prepare();
  const fs::path exe = client / L"bin" / L"zav.exe";
  HANDLE holder = INVALID_HANDLE_VALUE;
  recorder.hook = [&](const Call& call) {
    // Once the new executable is written beside the old one (which the engine still reads), another
    // program holds the old one as a running program is held: readable, not replaceable or deletable.
    if (holder == INVALID_HANDLE_VALUE && call.id == 5 && (call.number & 0xFFFF) == 0x6000 &&
        recorder.Of(7).back().text == "bin\\zav.exe")
      holder = ::CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  EXPECT_EQ(Apply(), 0u) << recorder.Dump();
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  ::CloseHandle(holder);

  const auto locked = recorder.Of(26);
  ASSERT_EQ(locked.size(), 1u) << recorder.Dump();
  EXPECT_FALSE(locked[0].hasParam);
  EXPECT_EQ(ReadFileBytes(exe), before.at("bin\\zav.exe"));
  EXPECT_EQ(ReadFileBytes(client / L"bin" / L"zav.exe.~tpnew"), after.at("bin\\zav.exe"));
  EXPECT_EQ(ReadFileBytes(client / L"common.ini"), after.at("common.ini")) << "the run went on";
  bool scheduled = false;
  for (const auto& pair : PendingRenames())
    if (Mentions(pair.first, L"zav.exe.~tpnew") && Mentions(pair.second, L"\\bin\\zav.exe")) scheduled = true;
  EXPECT_TRUE(scheduled) << "no PendingFileRenameOperations entry for the executable";
}

TEST_F(PatchW32, AFileHeldOpenForReadingLikeARunningProgramIsScheduledToo) {
  Prepare();
  const fs::path exe = client / L"bin" / L"zav.exe";
  HANDLE holder =
      ::CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Apply(), 0u) << recorder.Dump();
  ::CloseHandle(holder);
  EXPECT_EQ(recorder.Of(26).size(), 1u);
  EXPECT_EQ(ReadFileBytes(exe), before.at("bin\\zav.exe"));
}

TEST_F(PatchW32, ALockedFileToDeleteIsDeletedAtTheRestartAndReported28) {
  Prepare();
  const fs::path gone = client / L"junk" / L"gone.txt";
  HANDLE holder =
      ::CreateFileW(gone.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Apply(), 0u) << recorder.Dump();
  ::CloseHandle(holder);
  EXPECT_EQ(recorder.Of(28).size(), 1u) << recorder.Dump();
  EXPECT_TRUE(recorder.Of(26).empty());
  bool scheduled = false;
  for (const auto& pair : PendingRenames())
    if (Mentions(pair.first, L"\\junk\\gone.txt") && pair.second.empty()) scheduled = true;
  EXPECT_TRUE(scheduled) << "no PendingFileRenameOperations entry deleting the file";
}

TEST_F(PatchW32, AFileHeldWithoutAnySharingFromTheStartCannotBeCheckedAndIsEpt19) {
  Prepare();
  HANDLE holder = ::CreateFileW((client / L"bin" / L"zav.exe").c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Apply(), 19u);
  ::CloseHandle(holder);
  EXPECT_EQ(recorder.calls.back().text, "Error ept19: file cannot be read: bin\\zav.exe");
  EXPECT_EQ(ReadTree(client), before);
}

TEST_F(PatchW32, TheCostIsReadFromThePatchFileWithTheInstallersArguments) {
  before = {{"a.bin", RandomBytes(61, 1000)}};
  after = {{"a.bin", RandomBytes(62, 3000)}, {"c.bin", RandomBytes(63, 2000)}};
  Prepare();
  uint32_t biggestSz = 0, newSystemSz = 0, oldSystemSz = 0, numFiles = 0;
  EXPECT_EQ(cost(patchPath.c_str(), &biggestSz, &newSystemSz, &oldSystemSz, &numFiles, 0), 0u);
  // Every new file is built before any takes its place, and the small old one is kept: 3000 + 2000 + 1000.
  EXPECT_EQ(biggestSz, 6000u);
  EXPECT_EQ(newSystemSz, 5000u);
  EXPECT_EQ(oldSystemSz, 1000u);
  EXPECT_EQ(numFiles, 2u);
  EXPECT_EQ(cost(patchPath.c_str(), nullptr, nullptr, nullptr, nullptr, 0), 0u) << "null results are skipped";
}

TEST_F(PatchW32, TheCostOfADamagedOrMissingPatchIsAFailureThatLeavesTheResultsAlone) {
  Prepare();
  WriteFileBytes(patchPath, ReadFileBytes(patchPath).substr(0, 100));
  uint32_t results[4] = {};
  EXPECT_EQ(cost(patchPath.c_str(), &results[0], &results[1], &results[2], &results[3], 0), 9u);
  const std::wstring missing = (root / L"nothere.rtp").wstring();
  EXPECT_EQ(cost(missing.c_str(), &results[0], &results[1], &results[2], &results[3], 0), 10u);
  EXPECT_EQ(results[0] | results[1] | results[2] | results[3], 0u);
}

}  // namespace
