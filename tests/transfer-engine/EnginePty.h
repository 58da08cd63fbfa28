#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace mirel::test {

// The values of one status title "<lead> Up: <a> MB @ <b> kB/s Down: <c> MB
// @ <d> kB/s | <activity>".
struct ParsedTitle {
  double uploadedMB = 0;
  double uploadRate = 0;
  double downloadedMB = 0;
  double downloadRate = 0;
  std::string activity;
};

// Nothing when the title does not follow the format exactly.
std::optional<ParsedTitle> parseTitle(const std::string &title);

// The engine in a pseudo-terminal of its own, as its host runs it. Output is
// read all the time (so the engine never blocks on a full terminal) and
// kept; the titles it sets are taken from it.
class EnginePty {
public:
  explicit EnginePty(const std::vector<std::string> &args, const std::string &cwd = {});
  ~EnginePty();
  EnginePty(const EnginePty &) = delete;
  EnginePty &operator=(const EnginePty &) = delete;

  pid_t pid() const { return pid_; }
  std::string output();
  std::vector<std::string> titles();
  void send(const std::string &keys);
  // Closes our side of the terminal: the engine sees a hang-up.
  void hangUp();

  // True once the process has ended; exitCode() is then its code (or 128 +
  // signal).
  bool exited();
  int exitCode() const { return exitCode_; }
  bool waitExit(std::chrono::milliseconds deadline);

private:
  void readLoop();

  pid_t pid_ = -1;
  int master_ = -1;
  int exitCode_ = -1;
  bool stop_ = false;
  bool hangUp_ = false;
  std::mutex mutex_;
  std::string output_;
  std::thread reader_;
};

} // namespace mirel::test
