#include "EnginePty.h"

#include "waitfor.h"

#include <csignal>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace mirel::test {

std::optional<ParsedTitle> parseTitle(const std::string &title) {
  static const std::regex format(R"(^(\d+)% Up: (\d+\.\d\d) MB @ (\d+\.\d\d) kB/s )"
                                 R"(Down: (\d+\.\d\d) MB @ (\d+\.\d\d) kB/s \| (.+)$)");
  std::smatch m;
  if (!std::regex_match(title, m, format))
    return std::nullopt;
  ParsedTitle t;
  t.uploadedMB = std::stod(m[2]);
  t.uploadRate = std::stod(m[3]);
  t.downloadedMB = std::stod(m[4]);
  t.downloadRate = std::stod(m[5]);
  t.activity = m[6];
  return t;
}

EnginePty::EnginePty(const std::vector<std::string> &args, const std::string &cwd) {
  std::vector<std::string> argv{MIREL_ENGINE_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char *> raw;
  for (auto &a : argv)
    raw.push_back(a.data());
  raw.push_back(nullptr);

  winsize size{25, 80, 0, 0};
  pid_ = forkpty(&master_, nullptr, nullptr, &size);
  if (pid_ < 0)
    throw std::runtime_error("forkpty failed");
  if (pid_ == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0)
      _exit(126);
    execv(raw[0], raw.data());
    _exit(127);
  }
  reader_ = std::thread([this] { readLoop(); });
}

EnginePty::~EnginePty() {
  if (!exited()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  reader_.join();
  if (master_ >= 0)
    close(master_);
}

void EnginePty::readLoop() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (hangUp_ && master_ >= 0) {
        close(master_);
        master_ = -1;
      }
      if (stop_ || master_ < 0)
        return;
    }
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0)
      continue;
    char buf[4096];
    ssize_t n = read(master_, buf, sizeof buf);
    if (n > 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      output_.append(buf, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      // EIO: the engine and everything holding its terminal are gone. Keep
      // the descriptor until the destructor so send() stays harmless.
      std::lock_guard<std::mutex> lock(mutex_);
      if (!hangUp_)
        return;
    }
  }
}

std::string EnginePty::output() {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_;
}

std::vector<std::string> EnginePty::titles() {
  std::string out = output();
  std::vector<std::string> result;
  std::size_t pos = 0;
  while ((pos = out.find("\x1b]0;", pos)) != std::string::npos) {
    auto end = out.find('\a', pos);
    if (end == std::string::npos)
      break;
    result.push_back(out.substr(pos + 4, end - pos - 4));
    pos = end + 1;
  }
  return result;
}

void EnginePty::send(const std::string &keys) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (master_ >= 0 && !hangUp_) [[maybe_unused]]
    auto n = write(master_, keys.data(), keys.size());
}

void EnginePty::hangUp() {
  std::lock_guard<std::mutex> lock(mutex_);
  hangUp_ = true;
}

bool EnginePty::exited() {
  if (exitCode_ >= 0)
    return true;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_)
    return false;
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

bool EnginePty::waitExit(std::chrono::milliseconds deadline) {
  return waitFor([this] { return exited(); }, deadline);
}

} // namespace mirel::test
