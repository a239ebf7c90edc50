#pragma once
// Work split over the machine's cores (the builder's; the apply runs on one thread).
#include <functional>

namespace rtp {

// Runs `there` on a thread of its own while `here` runs on this one, and returns when both are done; one
// after the other on this thread when `together` is false.
void OnBothCores(const std::function<void()>& here, const std::function<void()>& there, bool together = true);

}  // namespace rtp
