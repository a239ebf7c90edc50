#include "tools/common/Progress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define IsTerminal(file) (_isatty(_fileno(file)) != 0)
#else
#include <unistd.h>
#define IsTerminal(file) (isatty(fileno(file)) != 0)
#endif

namespace tool {

namespace {

double Seconds(std::chrono::steady_clock::duration span) {
  return std::chrono::duration<double>(span).count();
}

}  // namespace

ProgressLine::ProgressLine(bool quiet) : mOn(!quiet && IsTerminal(stdout)), mStart(Clock::now()) {}

void ProgressLine::Show(const char* phase, uint64_t done, uint64_t total) {
  if (!mOn) return;
  const Clock::time_point now = Clock::now();
  if (mPhase != phase) {
    mPhase = phase;
    mPhaseStart = now;
  } else if (now - mShown < std::chrono::milliseconds(100)) {
    return;
  }
  mShown = now;
  const double share = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
  std::string line = mPhase + ": " + std::to_string(static_cast<int>(share * 100)) + "%, " +
                     std::to_string(static_cast<long long>(Seconds(now - mStart))) + " s";
  // The rest of the phase at its pace so far, once that pace means something.
  const double phaseSeconds = Seconds(now - mPhaseStart);
  if (share > 0 && share < 1 && phaseSeconds >= 1)
    line += ", about " + std::to_string(static_cast<long long>(phaseSeconds * (1 - share) / share + 0.5)) +
            " s left in this phase";
  const size_t width = line.size();
  if (line.size() < mWidth) line.append(mWidth - line.size(), ' ');
  mWidth = width;
  std::printf("\r%s", line.c_str());
  std::fflush(stdout);
}

void ProgressLine::Clear() {
  if (!mOn || mWidth == 0) return;
  std::printf("\r%s\r", std::string(mWidth, ' ').c_str());
  std::fflush(stdout);
  mWidth = 0;
}

}  // namespace tool
