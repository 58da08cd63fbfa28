#pragma once

#include <string>
#include <termios.h>

namespace mirel {

// The engine's console: keys from standard input, text to standard output,
// and the signals that end it (hang-up, terminate, interrupt).
//
// Construct it before any other thread starts: it blocks those signals for
// the whole process and takes them through a signalfd instead, so they are
// seen in the main loop and nowhere else.
class Terminal {
public:
  Terminal(int inFd = 0, int outFd = 1);
  ~Terminal();
  Terminal(const Terminal &) = delete;
  Terminal &operator=(const Terminal &) = delete;

  struct Input {
    bool quitKey = false; // q, Q or Ctrl+C typed
    bool anyKey = false;  // at least one byte typed
    bool hangUp = false;  // the terminal went away (SIGHUP, or EOF/EIO on a tty)
    bool signal = false;  // SIGTERM or SIGINT
    bool extraReady = false;
  };

  // Waits up to timeoutMs for a key, a signal or extraFd to become readable.
  Input wait(int timeoutMs, int extraFd = -1);

  // Writes everything; a terminal that is gone is ignored.
  void write(const std::string &text);

  bool inputIsTty() const { return inTty_; }
  // False once standard input has ended: no key can come any more.
  bool inputOpen() const { return inputOpen_; }
  bool outputIsTty() const { return outTty_; }

private:
  int in_;
  int out_;
  int sigFd_ = -1;
  bool inTty_ = false;
  bool outTty_ = false;
  bool inputOpen_ = true;
  bool rawMode_ = false;
  termios saved_{};
};

} // namespace mirel
