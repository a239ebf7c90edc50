#include "EngineScript.h"

#include <algorithm>
#include <cstring>

#include "engine/apply/Callbacks.h"
#include "engine/apply/Errors.h"
#include "engine/format/PatchFormat.h"

namespace enginetest {

namespace {

constexpr uint32_t kMaxDelayMs = 60000;
constexpr size_t kMaxNoticeText = 4096;
constexpr size_t kMaxScript = 64 * 1024;

bool Fail(std::string* error, const std::string& message) {
  *error = message;
  return false;
}

// A decimal number, or a hexadecimal one after "0x", below 2^32.
bool ParseNumber(const std::string& text, uint32_t* out) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const size_t start = hex ? 2 : 0;
  if (text.size() <= start) return false;
  uint64_t value = 0;
  for (size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFu) return false;
  }
  *out = static_cast<uint32_t>(value);
  return true;
}

bool ParseDelay(const std::string& text, uint32_t* out, std::string* error) {
  if (!ParseNumber(text, out)) return Fail(error, "not a number of milliseconds: \"" + text + "\"");
  if (*out > kMaxDelayMs) return Fail(error, "a delay is at most 60000 ms");
  return true;
}

}  // namespace

bool ScriptReader::AddNotice(uint32_t id, const std::string& argument, std::string* error) {
  ScriptNotice notice;
  notice.place = mPlace;
  notice.file = mPlaceFile;
  notice.id = id;
  switch (rtp::ParamKindOf(id)) {
    case rtp::ParamKind::Text:
      if (argument.size() > kMaxNoticeText) return Fail(error, "notice text longer than 4096 bytes");
      if (argument.find('\0') != std::string::npos) return Fail(error, "notice text holds a zero byte");
      notice.text = argument;
      break;
    case rtp::ParamKind::Number:
      if (!ParseNumber(argument, &notice.number))
        return Fail(error, "id " + std::to_string(id) + " takes a number: \"" + argument + "\"");
      break;
    case rtp::ParamKind::None:
      if (!argument.empty()) return Fail(error, "id " + std::to_string(id) + " takes no argument");
      break;
  }
  mScript.notices.push_back(notice);
  return true;
}

bool ScriptReader::Add(const std::string& word, const std::string& argument, std::string* error) {
  uint32_t number = 0;
  if (word == "biggest") {
    if (!ParseNumber(argument, &mScript.biggest)) return Fail(error, "biggest takes a number of bytes");
    mScript.overridesCost = true;
    return true;
  }
  if (word == "announce") {
    if (!ParseNumber(argument, &mScript.announced)) return Fail(error, "announce takes a number");
    mScript.overridesCount = true;
    return true;
  }
  if (word == "delay-ms") return ParseDelay(argument, &mScript.fileDelayMs, error);
  if (word == "at") {
    if (argument == "start" || argument == "end") {
      mPlace = argument == "start" ? Place::Start : Place::End;
      mPlaceFile.clear();
      return true;
    }
    const bool before = argument.compare(0, 7, "before:") == 0;
    const bool after = argument.compare(0, 6, "after:") == 0;
    if ((!before && !after) || argument.size() == (before ? 7u : 6u))
      return Fail(error, "at takes start, end, before:NAME or after:NAME");
    mPlace = before ? Place::Before : Place::After;
    mPlaceFile = rtp::FoldName(argument.substr(before ? 7 : 6));
    return true;
  }
  if (word == "notify-warning") return AddNotice(rtp::kIdWarning, argument, error);
  if (word == "notify-warning2") return AddNotice(rtp::kIdWarning2, argument, error);
  if (word == "notify-warning4") return AddNotice(rtp::kIdWarning4, argument, error);
  if (word == "notify-error") {
    if (!ParseNumber(argument, &number)) return Fail(error, "notify-error takes an error number");
    return AddNotice(rtp::kIdError, rtp::ErrorText(number), error);
  }
  if (word == "notify-detail") return AddNotice(rtp::kIdDetail, argument, error);
  if (word == "notify-locked") {
    if (argument != "26" && argument != "28") return Fail(error, "notify-locked takes 26 or 28");
    return AddNotice(argument == "26" ? rtp::kIdLockedReplace : rtp::kIdLockedDelete, "", error);
  }
  if (word == "notify") {
    const size_t colon = argument.find(':');
    if (!ParseNumber(argument.substr(0, colon), &number)) return Fail(error, "notify takes ID[:ARG]");
    return AddNotice(number, colon == std::string::npos ? std::string() : argument.substr(colon + 1), error);
  }
  if (word == "pause") {
    if (!ParseDelay(argument, &number, error) || !AddNotice(rtp::kIdHeartbeat, "", error)) return false;
    mScript.notices.back().delayMs = number;
    return true;
  }
  return Fail(error, "unknown script word \"" + word + "\"");
}

bool ScriptReader::AddLines(const std::string& text, std::string* error) {
  size_t lineNumber = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    const size_t wordEnd = line.find_first_of(" \t", first);
    const std::string word = line.substr(first, wordEnd == std::string::npos ? wordEnd : wordEnd - first);
    const size_t argStart = wordEnd == std::string::npos ? wordEnd : line.find_first_not_of(" \t", wordEnd);
    std::string why;
    if (!Add(word, argStart == std::string::npos ? std::string() : line.substr(argStart), &why))
      return Fail(error, "script line " + std::to_string(lineNumber) + ": " + why);
  }
  return true;
}

std::string ScriptedPatch(const std::string& lines, const std::string& patch) {
  return kScriptMagic + lines + std::string(1, '\0') + patch;
}

bool SplitScriptedPatch(rtp::Source& file, std::string* lines, uint64_t* patchAt) {
  const size_t magic = std::strlen(kScriptMagic);
  const size_t head = static_cast<size_t>(std::min<uint64_t>(file.Size(), magic + kMaxScript + 1));
  std::string bytes(head, '\0');
  if (head < magic || !file.ReadAt(0, reinterpret_cast<uint8_t*>(&bytes[0]), head) ||
      bytes.compare(0, magic, kScriptMagic) != 0)
    return false;
  const size_t end = bytes.find('\0', magic);
  if (end == std::string::npos) return false;
  *lines = bytes.substr(magic, end - magic);
  *patchAt = end + 1;
  return true;
}

}  // namespace enginetest
