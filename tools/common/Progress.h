#pragma once
// One updating line on a terminal that says what a long command is doing: the phase, the share of its
// work done, the time so far and an estimate of what is left. Nothing is printed when the output is not
// a terminal (a log or a pipe gets the command's result lines only), nor when the operator asked for
// quiet.
#include <chrono>
#include <cstdint>
#include <string>

namespace tool {

class ProgressLine {
 public:
  explicit ProgressLine(bool quiet);
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // `done` of `total` of `phase`; shown at most every 100 ms, and whenever the phase changes.
  void Show(const char* phase, uint64_t done, uint64_t total);
  // Erases the line, so that what is printed next starts at the beginning of an empty line.
  void Clear();

 private:
  using Clock = std::chrono::steady_clock;

  bool mOn;
  Clock::time_point mStart;
  Clock::time_point mPhaseStart;
  Clock::time_point mShown;
  std::string mPhase;
  size_t mWidth = 0;  // of the line on the terminal now
};

}  // namespace tool
