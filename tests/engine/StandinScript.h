#pragma once

// Drives the stand-in engine (standin.cpp) of the tests through its
// environment, and tells whether a process is gone.

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/types.h>

namespace mirel::test {

// Sets the stand-in's script for the engines this test starts; restores the
// environment when it goes.
class StandinScript {
public:
  explicit StandinScript(const std::string &options, const std::string &titles = {}) {
    setenv("MIREL_STANDIN", options.c_str(), 1);
    setenv("MIREL_STANDIN_TITLES", titles.c_str(), 1);
  }
  ~StandinScript() {
    unsetenv("MIREL_STANDIN");
    unsetenv("MIREL_STANDIN_TITLES");
  }
  StandinScript(const StandinScript &) = delete;
  StandinScript &operator=(const StandinScript &) = delete;
};

// True when no process has this id any more, or only its zombie is left.
inline bool processGone(pid_t pid) {
  if (pid <= 0 || kill(pid, 0) != 0)
    return true;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  auto close = line.rfind(')');
  return close == std::string::npos || (close + 2 < line.size() && line[close + 2] == 'Z');
}

} // namespace mirel::test
