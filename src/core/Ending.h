#pragma once
// How a run ends: the box shown, what the failed page and the error report then say, and the page.
#include <cstdint>
#include <optional>
#include <string>

#include "core/Box.h"
#include "core/Outcome.h"
#include "core/Ports.h"

namespace core {

// A message box as the flow shows it.
struct Box {
  std::wstring text;
  std::wstring caption;
  uint32_t style = box::kOk;
};

// The message-box style of an error: the error icon and the error caption.
constexpr uint32_t kErrorMessage = 0;

// A string-table text in a box: kErrorMessage is the error icon with the error caption, any other style
// keeps its buttons and icon with the message caption.
Box BoxOf(Texts& texts, uint32_t stringId, uint32_t style);

// The box first (when there is one), then the outcome, the message and the report detail (each kept
// from before when not given), then the page.
//   EndRun(Ending::Failed().WithBox(...).WithOutcome(OutcomeSupport).WithMessage(text));
struct Ending {
  // The page that is left as it is.
  static constexpr int kSamePage = 0;

  static Ending Failed() { return Ending(PageFailed); }
  static Ending Finished() { return Ending(PageFinished); }
  // A string-table text in the error box, which is also the message and the report's detail.
  static Ending FailedWithError(Texts& texts, uint32_t stringId, uint32_t outcome);
  // Too little free space for the run (need and free in MB): the disk-space message in a box with no
  // caption, which is also the message; the report's detail is kept.
  static Ending DiskFull(Texts& texts, uint32_t needMB, uint32_t freeMB);
  // A refusal that only says why: the page stays, and Cancel closes the dialog.
  static Ending OnSamePage() { return Ending(kSamePage); }

  Ending& WithBox(Box shown) {
    box = std::move(shown);
    return *this;
  }
  Ending& WithOutcome(uint32_t value) {
    outcome = value;
    return *this;
  }
  Ending& WithMessage(std::wstring text) {
    message = std::move(text);
    return *this;
  }
  Ending& WithReportDetail(std::wstring text) {
    reportDetail = std::move(text);
    return *this;
  }

  std::optional<Box> box;
  std::optional<uint32_t> outcome;
  std::optional<std::wstring> message;
  std::optional<std::wstring> reportDetail;
  int page;

 private:
  explicit Ending(int endPage) : page(endPage) {}
};

// Where the parts of a run send its ending: the run's core.
class RunEnd {
 public:
  virtual void EndRun(const Ending& ending) = 0;

 protected:
  ~RunEnd() = default;
};

}  // namespace core
