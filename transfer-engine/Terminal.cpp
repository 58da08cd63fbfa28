#include "Terminal.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace mirel {

Terminal::Terminal(int inFd, int outFd) : in_(inFd), out_(outFd) {
  std::signal(SIGPIPE, SIG_IGN);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  sigFd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);

  inTty_ = isatty(in_) == 1;
  outTty_ = isatty(out_) == 1;
  if (inTty_ && tcgetattr(in_, &saved_) == 0) {
    // Keys arrive one by one without Enter and are not echoed; output
    // processing stays on so "\n" still starts a new line.
    termios raw = saved_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    rawMode_ = tcsetattr(in_, TCSANOW, &raw) == 0;
  }
}

Terminal::~Terminal() {
  if (rawMode_)
    tcsetattr(in_, TCSANOW, &saved_);
  if (sigFd_ >= 0)
    close(sigFd_);
}

Terminal::Input Terminal::wait(int timeoutMs, int extraFd) {
  Input result;
  pollfd fds[3] = {{sigFd_, POLLIN, 0}, {inputOpen_ ? in_ : -1, POLLIN, 0}, {extraFd, POLLIN, 0}};
  int n = poll(fds, 3, timeoutMs < 0 ? 0 : timeoutMs);
  if (n <= 0)
    return result;

  if (fds[0].revents & POLLIN) {
    signalfd_siginfo info{};
    while (read(sigFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      if (info.ssi_signo == SIGHUP)
        result.hangUp = true;
      else
        result.signal = true;
    }
  }
  if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
    char buf[64];
    ssize_t got = read(in_, buf, sizeof buf);
    if (got > 0) {
      result.anyKey = true;
      for (ssize_t i = 0; i < got; ++i)
        if (buf[i] == 'q' || buf[i] == 'Q' || buf[i] == 3)
          result.quitKey = true;
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
      // A terminal that ends has hung up; a pipe or file that ends only
      // means no more keys will come.
      inputOpen_ = false;
      if (inTty_)
        result.hangUp = true;
    }
  }
  if (extraFd >= 0 && (fds[2].revents & POLLIN))
    result.extraReady = true;
  return result;
}

void Terminal::write(const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(out_, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      pollfd p{out_, POLLOUT, 0};
      if (poll(&p, 1, 1000) <= 0)
        return; // nobody reads the console; drop the rest rather than hang
    } else {
      return;
    }
  }
}

} // namespace mirel
