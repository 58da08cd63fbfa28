#pragma once

#include <functional>

namespace mirel {

// The window's message pump, as a hook: the window plugs its event processing
// in (QCoreApplication::processEvents()); code that blocks the window's thread
// for a while (an HTTP fetch) calls ProcessMessages() to keep it responsive.
// Without a hook ProcessMessages() does nothing.
void SetMessagePump(std::function<void()> pump);
void ProcessMessages();

} // namespace mirel
