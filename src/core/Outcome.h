#pragma once
// The wizard's pages and the outcome codes of a failed run.
#include <cstdint>

namespace core {

enum Page : int32_t {
  PageWelcome = 1,
  PageInstalling = 2,
  PageFinished = 3,
  PageFailed = 4,
};

// What the failed page offers; also sent as "do" with an error report.
enum Outcome : uint32_t {
  OutcomeNone = 0,
  OutcomeReinstallClient = 1,
  OutcomeNewPatch = 3,
  OutcomeSupport = 4,
  OutcomeRestart = 5,
};

}  // namespace core
