#include "MessagePump.h"

#include <utility>

namespace mirel {

namespace {
std::function<void()> &pumpHook() {
  static std::function<void()> hook;
  return hook;
}
} // namespace

void SetMessagePump(std::function<void()> pump) {
  pumpHook() = std::move(pump);
}

void ProcessMessages() {
  // A copy, so a pump that replaces the hook from inside does not destroy
  // the function while it runs.
  std::function<void()> pump = pumpHook();
  if (pump)
    pump();
}

} // namespace mirel
