#include "FakeRun.h"

#include <cstring>
#include <cwctype>

namespace core {

int RecordingView::ShowBox(const std::wstring& text, const std::wstring& boxCaption, uint32_t style) {
  boxes.push_back({text, boxCaption, style});
  if (answers.empty()) return box::kAnswerOk;
  const int answer = answers.front();
  answers.pop_front();
  return answer;
}

int RecordingView::AskFolder(std::wstring* folder) {
  ++foldersAsked;
  if (folderAnswers.empty()) return box::kAnswerCancel;
  const auto answer = folderAnswers.front();
  folderAnswers.pop_front();
  *folder = answer.second;
  return answer.first;
}

int RecordingView::Bar(std::vector<int>* bar, int percent) {
  const int previous = bar->empty() ? 0 : bar->back();
  bar->push_back(percent);
  return previous;
}

std::wstring FakeTexts::Load(uint32_t id) {
  static const std::map<uint32_t, std::wstring> kArguments = {
      {138, L"(%u,%u)"}, {142, L"(%u,%u,%s)"}, {144, L"(%s)"},    {147, L"(%s,%s)"}, {149, L"(%s)"},
      {151, L"(%u)"},    {156, L"(%s,%s)"},    {166, L"(%u,%u)"}, {167, L"(%s)"},    {171, L"(%s)"}};
  const auto arguments = kArguments.find(id);
  return L"S" + std::to_wstring(id) + (arguments == kArguments.end() ? L"" : arguments->second);
}

std::wstring FakeTexts::Widen(const char* bytes, size_t length) {
  return std::wstring(reinterpret_cast<const unsigned char*>(bytes),
                      reinterpret_cast<const unsigned char*>(bytes) + length);
}

bool FakeTexts::Narrow(const std::wstring& text, std::string* bytes) {
  bytes->clear();
  for (wchar_t c : text) {
    if (c >= 256) return false;
    *bytes += static_cast<char>(c);
  }
  return true;
}

std::wstring FakeTexts::Lower(const std::wstring& text) {
  std::wstring lower = text;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  return lower;
}

bool FakeMachine::IsClientFolder(const std::wstring& folder) {
  // With or without its trailing backslash, as the real probe joins paths.
  const size_t end = folder.find_last_not_of(L'\\');
  return clients.count(folder.substr(0, end == std::wstring::npos ? 0 : end + 1)) != 0;
}

bool FakeMachine::CloseRunningClient() {
  if (clientRunning.empty()) return true;
  const bool running = clientRunning.front();
  clientRunning.pop_front();
  return !running;
}

const uint8_t* FakeMachine::MapEntry(const std::wstring& name, uint32_t* size) {
  uint32_t ignored = 0;
  if (!OpenEntry(name, &ignored)) return nullptr;
  *size = ignored;
  return reinterpret_cast<const uint8_t*>(entries[readEntry].second.data());
}

bool FakeMachine::OpenEntry(const std::wstring& name, uint32_t* size) {
  FakeTexts texts;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (texts.Lower(entries[i].first) != texts.Lower(name)) continue;
    readEntry = i;
    readOffset = 0;
    *size = static_cast<uint32_t>(entries[i].second.size());
    return true;
  }
  return false;
}

bool FakeMachine::Read(void* buffer, uint32_t length, uint32_t* error) {
  const std::string& data = entries[readEntry].second;
  if (readOffset + length > data.size()) return *error = 38, false;
  std::memcpy(buffer, data.data() + readOffset, length);
  readOffset += length;
  return true;
}

bool FakeMachine::MakeFolder(std::wstring* folder) {
  ++foldersMade;
  *folder = L"T:\\tmp\\s1.1\\";
  return !makeFolderFails;
}

bool FakeMachine::Create(const std::wstring& path) {
  files[path].clear();
  writing = path;
  return true;
}

bool FakeMachine::Write(const void* bytes, uint32_t length, uint32_t* error) {
  if (onWrite) onWrite();
  size_t used = 0;
  for (const auto& file : files) used += file.second.size();
  if (used + length > diskSpace) return *error = 112, false;
  files[writing].append(static_cast<const char*>(bytes), length);
  return true;
}

bool FakeMachine::GetCost(const std::wstring&, uint32_t* biggestSz) {
  *biggestSz = biggest;
  return hasCost;
}

void FakeMachine::Apply(const char* line, EngineListener& listener) {
  commandLine = line;
  if (onApply) return onApply(listener);
  for (Note& note : script) {
    void* param = note.hasNumber      ? static_cast<void*>(&note.number)
                  : note.text.empty() ? nullptr
                                      : static_cast<void*>(&note.text[0]);
    replies.push_back(listener.OnEngineMessage(note.id, param));
    if (replies.back() == nullptr) return;
  }
}

bool FakeMachine::RecoverInterruptedPatch(const std::wstring& folder) {
  recovered.push_back(folder);
  if (!buildsOnceRecovered.empty()) builds = buildsOnceRecovered;
  return true;
}

bool FakeMachine::Start(void (*body)(void*), void* argument) {
  threadStarted = true;
  body(argument);
  return true;
}

FakeMachine::FakeMachine() {
  entries = {{L"patchw32.dll", std::string(9000, 'E')},
             {L"patchnotes4536.rtf", "{\\rtf1 notes}"},
             {L"ZAV.2.12.4526-2.12.4536.rtp", std::string(20000, 'P')}};
  clients.insert(L"C:\\Games\\ZAV");
  builds[L"C:\\Games\\ZAV\\common.ini"] = 4526;
}

FakeRun::FakeRun() {
  core.SetCommandLine(L"path=C:\\Games\\ZAV");
}

}  // namespace core
