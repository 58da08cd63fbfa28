#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace mirel::test {

// A helper process for tests (a server, a peer). It runs in a process group
// of its own and is stopped with its whole group, by process id, when the
// object goes away: first SIGTERM, then SIGKILL after a grace period.
class ChildProcess {
public:
  // argv[0] is looked up in PATH. Output goes to logPath when given, else is
  // discarded. cwd is the working folder when not empty.
  explicit ChildProcess(std::vector<std::string> argv, std::string logPath = {},
                        std::string cwd = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  // Stops the group and reaps the process; returns the wait status, or -1.
  int stop();

private:
  pid_t pid_ = -1;
  int status_ = -1;
};

} // namespace mirel::test
