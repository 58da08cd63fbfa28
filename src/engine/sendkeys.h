#pragma once

#include "platform/ConsoleProcess.h"
#include "platform/KeyMap.h"

#include <cstdint>

namespace mirel {

// Types one key into a console: raises its window when one is shown, writes
// the key's bytes (with the held modifiers) to the console's terminal, then
// lets the window's messages run briefly. `view` may be null (no window shown).
// The extended flag changes nothing on a terminal; it is kept for callers
// that name keys the way a keyboard does.
void SendKeyToWindow(ConsoleProcess &window, ConsoleView *view, std::uint16_t key,
                     TShiftState shift, bool extended);

} // namespace mirel
