#include "engine/base/Cores.h"

#include <thread>

namespace rtp {

void OnBothCores(const std::function<void()>& here, const std::function<void()>& there, bool together) {
  if (!together) {
    here();
    there();
    return;
  }
  std::thread other(there);
  here();
  other.join();
}

}  // namespace rtp
