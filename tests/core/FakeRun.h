#pragma once
// The install flow with a recording view and a fake machine: what the user would see is kept as data,
// and every answer (message boxes, folder dialog, probes, engine notifications) is scripted.
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/RunCore.h"

namespace core {

struct ShownBox {
  std::wstring text, caption;
  uint32_t style = 0;
};

class RecordingView : public RunView {
 public:
  int SetFileProgress(int percent) override { return Bar(&fileBar, percent); }
  int SetTotalProgress(int percent) override { return Bar(&totalBar, percent); }
  void SetFileStatus(const std::wstring& text) override { fileStatus = text; }
  void SetPhaseStatus(const std::wstring&) override {}
  void AddDetail(const std::wstring& text) override { details.push_back(text); }
  void ShowPage(int page, int) override { pages.push_back(page); }
  void ShowNotes(const std::wstring&) override {}
  void ShowVersions(const std::wstring&, const std::wstring&) override {}
  int ShowBox(const std::wstring& text, const std::wstring& caption, uint32_t style) override;
  int AskFolder(std::wstring* folder) override;
  void StartTimer(uint32_t id, uint32_t) override { timers.insert(id); }
  void StopTimer(uint32_t id) override { timers.erase(id); }
  void PostExtractionFailed() override { ++extractionFailures; }
  void HoldOutput(bool) override {}
  void PumpMessages() override {
    if (onPump) onPump();
  }
  void CloseDialog(int exitCode) override { closedWith = exitCode; }

  std::vector<int> fileBar, totalBar;  // every value sent
  std::wstring fileStatus;
  std::vector<std::wstring> details;
  std::vector<int> pages;  // every page shown, in order
  std::vector<ShownBox> boxes;
  std::deque<int> answers;                                 // for the boxes; OK when none is left
  std::deque<std::pair<int, std::wstring>> folderAnswers;  // result and folder; cancel when none is left
  int foldersAsked = 0;
  std::set<uint32_t> timers;
  int extractionFailures = 0;
  int closedWith = -1;
  std::function<void()> onPump;  // what the user does while the engine runs

 private:
  static int Bar(std::vector<int>* bar, int percent);
};

// The string table as "S<id>", with the same arguments as the real texts; Latin-1 as the code page.
class FakeTexts : public Texts {
 public:
  std::wstring Load(uint32_t id) override;
  std::wstring Widen(const char* bytes, size_t length) override;
  bool Narrow(const std::wstring& text, std::string* bytes) override;
  std::wstring Lower(const std::wstring& text) override;
};

class FakeMachine : public ClientProbes,
                    public SystemActions,
                    public ArchiveEntries,
                    public TempFiles,
                    public PatchEngine,
                    public WorkerThread {
 public:
  // The shipped archive's shape, and a client at build 4526 in C:\Games\ZAV.
  FakeMachine();

  bool IsClientFolder(const std::wstring& folder) override;
  bool CloseRunningClient() override;
  bool RecoverInterruptedPatch(const std::wstring& folder) override;
  uint32_t ReadBuildFile(const std::wstring& path) override { return builds[path]; }
  uint32_t GetFreeDiskSpaceMB(const std::wstring&) override { return freeMB; }
  std::wstring ShortPath(const std::wstring& path) override { return shortPaths[path]; }
  void TouchFile(const std::wstring& path) override { touched.push_back(path); }
  void Open(const std::wstring& target) override { opened.push_back(target); }
  void RequestSystemRestart() override { ++restarts; }
  void Trace(const std::wstring&) override {}

  std::wstring EntryName(uint32_t index) override {
    return index < entries.size() ? entries[index].first : L"";
  }
  const uint8_t* MapEntry(const std::wstring& name, uint32_t* size) override;
  void UnmapEntry(const uint8_t*) override {}
  bool OpenEntry(const std::wstring& name, uint32_t* size) override;
  bool Read(void* buffer, uint32_t length, uint32_t* error) override;

  bool MakeFolder(std::wstring* folder) override;
  uint32_t FreeSpaceMB() override { return tempFreeMB; }
  bool Create(const std::wstring& path) override;
  bool Write(const void* bytes, uint32_t length, uint32_t* error) override;
  void Close() override {}
  void Delete(const std::wstring& path) override { files.erase(path); }
  void RemoveFolder(const std::wstring& folder) override { removedFolders.push_back(folder); }

  bool Load(const std::wstring& path) override {
    loaded = path;
    return loadable && path == L"T:\\tmp\\s1.1\\patchw32.dll";
  }
  bool HasApply() override { return hasApply; }
  uint32_t BindError() override { return 127; }
  bool GetCost(const std::wstring&, uint32_t* biggestSz) override;
  void Apply(const char* commandLine, EngineListener& listener) override;
  void Free() override { ++frees; }

  // The extraction thread's body runs at once.
  bool Start(void (*body)(void*), void* argument) override;
  void Join() override { ++joins; }

  // The probes' answers.
  std::set<std::wstring> clients;
  std::deque<bool> clientRunning;  // CloseRunningClient fails while this yields true
  std::map<std::wstring, uint32_t> builds;
  std::map<std::wstring, uint32_t> buildsOnceRecovered;  // an interrupted run in the folder: the builds then
  std::vector<std::wstring> recovered;
  uint32_t freeMB = 0;
  uint32_t tempFreeMB = 0;  // 0: the temporary folder's free space cannot be told
  std::map<std::wstring, std::wstring> shortPaths;
  std::vector<std::wstring> touched, opened;
  int restarts = 0;
  // The archive's names and contents, and where the reading stands.
  std::vector<std::pair<std::wstring, std::string>> entries;
  size_t readEntry = 0, readOffset = 0;
  // The temporary folder.
  bool makeFolderFails = false;
  int foldersMade = 0;
  size_t diskSpace = SIZE_MAX;
  std::map<std::wstring, std::string> files;
  std::wstring writing;
  std::function<void()> onWrite;  // called on every write, on the writing thread
  std::vector<std::wstring> removedFolders;
  // The engine: each notification is an id with a text or a number (or neither).
  struct Note {
    uint32_t id;
    std::string text;
    uint32_t number = 0;
    bool hasNumber = false;
  };
  bool loadable = true, hasApply = true, hasCost = false;
  uint32_t biggest = 0;
  std::vector<Note> script;
  std::function<void(EngineListener&)> onApply;  // in place of the script: a test sends the notes itself
  std::wstring loaded;
  std::string commandLine;
  std::vector<const char*> replies;
  bool threadStarted = false;
  int joins = 0;
  int frees = 0;
};

// A whole run: the flow over the fakes, the client named on the command line.
struct FakeRun {
  FakeRun();
  void Start() { core.SetPage(PageWelcome), core.SetPage(PageInstalling); }

  RecordingView view;
  FakeTexts texts;
  FakeMachine machine;
  CRunCore core{view, RunPorts{texts, machine, machine, machine, machine, machine, machine}};
};

}  // namespace core
