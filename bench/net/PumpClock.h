#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace mirel::bench {

// Measures the longest time between two calls of the message pump.
class PumpClock {
public:
  void start() { last_ = Clock::now(); }
  void pump() {
    auto now = Clock::now();
    longest_ = std::max(longest_, now - last_);
    last_ = now;
    ++calls_;
  }
  double longestMs() const { return std::chrono::duration<double, std::milli>(longest_).count(); }
  long calls() const { return calls_; }

private:
  using Clock = std::chrono::steady_clock;
  Clock::time_point last_ = Clock::now();
  Clock::duration longest_{};
  long calls_ = 0;
};

// A field of /proc/self/status in KiB (VmRSS, VmHWM).
inline long statusKiB(const std::string &field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field + ":", 0) == 0)
      return std::stol(line.substr(field.size() + 1));
  return -1;
}

} // namespace mirel::bench
