#include "sendkeys.h"

#include "platform/MessagePump.h"

#include <chrono>
#include <thread>

namespace mirel {

void SendKeyToWindow(ConsoleProcess &window, ConsoleView *view, std::uint16_t key,
                     TShiftState shift, bool extended) {
  (void)extended;
  if (view)
    view->raiseConsole();
  window.write(KeyBytes(key, shift));
  // Give the program a moment to take the key before anyone looks again.
  ProcessMessages();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ProcessMessages();
}

} // namespace mirel
