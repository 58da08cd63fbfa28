#include "ConsoleProcess.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vterm.h>

namespace mirel {

namespace {

// A drain stops after this much so a program that writes without pause cannot
// hold the host's thread.
constexpr std::size_t DrainLimit = 1 << 20;

void vtermOutput(const char *bytes, size_t len, void *user) {
  // Answers to terminal queries (device attributes, cursor position).
  auto *self = static_cast<ConsoleProcess *>(user);
  self->write(std::string_view(bytes, len));
}

[[noreturn]] void childFailed(int errorPipe) {
  int err = errno;
  ssize_t ignored = ::write(errorPipe, &err, sizeof err);
  (void)ignored;
  _exit(127);
}

} // namespace

void ConsoleProcess::VTermDeleter::operator()(VTerm *vt) const {
  vterm_free(vt);
}

ConsoleProcess::ConsoleProcess(const std::vector<std::string> &argv, std::string startupTitle,
                               int rows, int cols)
    : rows_(rows), cols_(cols), titleParser_(std::move(startupTitle)) {
  if (argv.empty() || argv[0].empty()) {
    startError_ = ENOENT;
    return;
  }
  // Everything the child needs is prepared before fork: after it, only
  // async-signal-safe calls.
  std::vector<char *> args;
  args.reserve(argv.size() + 1);
  for (const auto &a : argv)
    args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);

  std::array<int, 2> errorPipe{};
  if (pipe2(errorPipe.data(), O_CLOEXEC) != 0) {
    startError_ = errno;
    return;
  }
  const pid_t parent = getpid();
  winsize size{};
  size.ws_row = static_cast<unsigned short>(rows);
  size.ws_col = static_cast<unsigned short>(cols);

  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) {
    startError_ = errno;
    close(errorPipe[0]);
    close(errorPipe[1]);
    return;
  }
  if (pid == 0) {
    close(errorPipe[0]);
    // Dies with the host, also when the host is killed hard. The host may
    // have died before the signal was armed: then we are orphaned already.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
      _exit(127);
    sigset_t all;
    sigemptyset(&all);
    sigprocmask(SIG_SETMASK, &all, nullptr);
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGCHLD})
      ::signal(sig, SIG_DFL);
    execv(args[0], args.data());
    childFailed(errorPipe[1]);
  }

  close(errorPipe[1]);
  pid_ = pid;
  master_ = master;
  // Not inherited by later children (other engines, the setup program): an
  // inherited copy would keep this terminal from hanging up.
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);

  int childErr = 0;
  ssize_t n;
  do {
    n = read(errorPipe[0], &childErr, sizeof childErr);
  } while (n < 0 && errno == EINTR);
  close(errorPipe[0]);
  if (n == static_cast<ssize_t>(sizeof childErr)) {
    startError_ = childErr ? childErr : ENOEXEC;
    reap(0);
    close(master_);
    master_ = -1;
    return;
  }
  started_ = true;

  vterm_.reset(vterm_new(rows_, cols_));
  vterm_set_utf8(vterm_.get(), 1);
  vterm_output_set_callback(vterm_.get(), vtermOutput, this);
  vterm_screen_reset(vterm_obtain_screen(vterm_.get()), 1);
}

ConsoleProcess::~ConsoleProcess() {
  if (pid_ > 0 && !reaped_) {
    signal(SIGKILL);
    reap(0);
  }
  if (master_ >= 0)
    close(master_);
}

bool ConsoleProcess::drain() {
  if (master_ < 0 || hungUp_)
    return false;
  std::array<char, 16384> buf;
  std::size_t total = 0;
  while (total < DrainLimit) {
    ssize_t n = read(master_, buf.data(), buf.size());
    if (n > 0) {
      total += static_cast<std::size_t>(n);
      std::string_view bytes(buf.data(), static_cast<std::size_t>(n));
      titleParser_.feed(bytes);
      vterm_input_write(vterm_.get(), bytes.data(), bytes.size());
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
      break;
    hungUp_ = true; // EIO (or EOF): every holder of the other side is gone
    break;
  }
  if (total > 0 && onChange_)
    onChange_();
  return total > 0;
}

std::string ConsoleProcess::title() {
  drain();
  return titleParser_.title();
}

bool ConsoleProcess::reap(int options) {
  if (reaped_)
    return true;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid_, &status, options);
  } while (r < 0 && errno == EINTR);
  if (r == 0)
    return false;
  if (r < 0) {
    // Someone else reaped it (or it is not ours): it is gone either way.
    exitCode_ = 128 + SIGKILL;
  } else if (WIFEXITED(status)) {
    exitCode_ = static_cast<std::uint32_t>(WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    exitCode_ = 128 + static_cast<std::uint32_t>(WTERMSIG(status));
  } else {
    return false;
  }
  reaped_ = true;
  // Whatever the program left running in its group goes with it. The group id
  // cannot be handed out again while members remain, so this hits only them.
  kill(-pid_, SIGKILL);
  return true;
}

std::uint32_t ConsoleProcess::exitCode() {
  if (!started_)
    return reaped_ ? exitCode_ : 127; // nothing ever ran
  drain();
  if (!reaped_ && reap(WNOHANG))
    drain(); // the last words, such as a final title
  return exitCode_;
}

bool ConsoleProcess::write(std::string_view bytes) {
  if (master_ < 0 || hungUp_)
    return false;
  while (!bytes.empty()) {
    ssize_t n = ::write(master_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false; // full (the program does not read) or gone: never block
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void ConsoleProcess::signal(int sig) {
  if (pid_ > 0 && !reaped_) {
    kill(-pid_, sig);
    kill(pid_, sig); // in case it left its own group
  }
}

std::vector<std::string> ConsoleProcess::screen() const {
  std::vector<std::string> lines;
  if (!vterm_)
    return lines;
  VTermScreen *scr = vterm_obtain_screen(vterm_.get());
  std::string row(static_cast<std::size_t>(cols_) * 4 + 4, '\0');
  for (int r = 0; r < rows_; ++r) {
    VTermRect rect{r, r + 1, 0, cols_};
    std::size_t n = vterm_screen_get_text(scr, row.data(), row.size(), rect);
    std::string line(row.data(), n);
    while (!line.empty() && line.back() == ' ')
      line.pop_back();
    lines.push_back(std::move(line));
  }
  return lines;
}

} // namespace mirel
