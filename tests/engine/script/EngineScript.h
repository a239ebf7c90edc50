#pragma once
// The script of the scripted test engine: what it does beside a real run of a patch, so that the
// installer's handling of what an engine reports (warnings, errors, locked files, a slow run, a given
// cost, a wrong file count) can be tested. A script is words with one argument each, one a line
// ("WORD ARG"; blank lines and lines starting with '#' are skipped):
//   biggest BYTES            the disk need RTPatchGetCost reports, instead of the patch's own
//   announce COUNT           the file count sent with id 6
//   delay-ms MS              a delay on every file (spread over its progress callbacks, id 5 every 50 ms)
//   at WHERE                 where the following notices go: start (the default), end (after the last
//                            file's line, before the run is finished), before:NAME or after:NAME
//   notify-warning TEXT      id 1 with TEXT (notify-warning2 and notify-warning4: ids 2 and 4)
//   notify-error NUMBER      id 3 with the engine's own text for NUMBER ("Error ept15: file not found");
//                            the run stops after it and the engine returns NUMBER
//   notify-detail TEXT       id 9 with TEXT
//   notify-locked 26|28      that id, parameter null
//   notify ID[:ARG]          any id: ARG is the text for ids 1, 2, 3, 4, 7, 9, the number for 5 and 6,
//                            and absent for the others (parameter null)
//   pause MS                 waits MS (id 10 every 50 ms), then sends id 10
// A scripted patch file is kScriptMagic, the script, a zero byte, then the real patch.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/Stream.h"

namespace enginetest {

constexpr char kScriptMagic[] = "#tesserine engine script\n";

enum class Place { Start, End, Before, After };

struct ScriptNotice {
  Place place = Place::Start;
  std::string file;  // Before and After, folded
  uint32_t id = 0;
  std::string text;     // ids that carry a text
  uint32_t number = 0;  // ids that carry a number
  uint32_t delayMs = 0;
};

struct EngineScript {
  bool overridesCost = false;
  uint32_t biggest = 0;
  bool overridesCount = false;
  uint32_t announced = 0;
  uint32_t fileDelayMs = 0;
  std::vector<ScriptNotice> notices;
};

// Reads script words into a script.
class ScriptReader {
 public:
  // False, with a message, when the word is unknown or its argument is not what it takes.
  bool Add(const std::string& word, const std::string& argument, std::string* error);
  bool AddLines(const std::string& text, std::string* error);
  const EngineScript& script() const { return mScript; }

 private:
  bool AddNotice(uint32_t id, const std::string& argument, std::string* error);

  Place mPlace = Place::Start;
  std::string mPlaceFile;
  EngineScript mScript;
};

// A scripted patch file from a script's lines and a real patch.
std::string ScriptedPatch(const std::string& lines, const std::string& patch);

// When `file` is a scripted patch: true, with its script's lines and where the real patch starts.
bool SplitScriptedPatch(rtp::Source& file, std::string* lines, uint64_t* patchAt);

}  // namespace enginetest
