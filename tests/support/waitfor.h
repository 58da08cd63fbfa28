#pragma once

#include <chrono>
#include <functional>

namespace mirel::test {

// Polls the predicate until it holds or the deadline passes; true when it held.
// Use this instead of fixed sleeps.
bool waitFor(const std::function<bool()> &predicate, std::chrono::milliseconds deadline,
             std::chrono::milliseconds interval = std::chrono::milliseconds(20));

} // namespace mirel::test
