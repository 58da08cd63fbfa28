#include "waitfor.h"

#include <thread>

namespace mirel::test {

bool waitFor(const std::function<bool()> &predicate, std::chrono::milliseconds deadline,
             std::chrono::milliseconds interval) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    if (predicate())
      return true;
    if (std::chrono::steady_clock::now() >= end)
      return false;
    std::this_thread::sleep_for(interval);
  }
}

} // namespace mirel::test
