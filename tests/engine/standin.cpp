// A scripted stand-in for the transfer engine, for the tests. It sets titles,
// obeys or ignores "q", crashes or exits by itself, as its environment says:
//   MIREL_STANDIN         options, ";"-separated: delay=ms, interval=ms, loop=1,
//                         q=ignore, term=ignore, hup=ignore, crash=ms,
//                         exitafter=ms, exit=code, flood=bytes,
//                         argv=file (arguments one per line),
//                         pidfile=file (own pid appended)
//   MIREL_STANDIN_TITLES  titles to play, one per line, "interval" apart
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <poll.h>
#include <sstream>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

std::map<std::string, std::string> options() {
  std::map<std::string, std::string> opts;
  const char *env = std::getenv("MIREL_STANDIN");
  std::stringstream in(env ? env : "");
  std::string item;
  while (std::getline(in, item, ';')) {
    auto eq = item.find('=');
    if (eq != std::string::npos)
      opts[item.substr(0, eq)] = item.substr(eq + 1);
  }
  return opts;
}

std::vector<std::string> titles() {
  std::vector<std::string> list;
  const char *env = std::getenv("MIREL_STANDIN_TITLES");
  std::stringstream in(env ? env : "");
  std::string line;
  while (std::getline(in, line))
    list.push_back(line);
  return list;
}

void setTitle(const std::string &title) {
  std::printf("\x1b]0;%s\a", title.c_str());
  std::fflush(stdout);
}

long number(const std::map<std::string, std::string> &opts, const char *key, long fallback) {
  auto it = opts.find(key);
  return it == opts.end() ? fallback : std::strtol(it->second.c_str(), nullptr, 10);
}

} // namespace

int main(int argc, char **argv) {
  const auto opts = options();
  const auto list = titles();
  auto has = [&](const char *key, const char *value) {
    auto it = opts.find(key);
    return it != opts.end() && it->second == value;
  };
  if (has("hup", "ignore"))
    std::signal(SIGHUP, SIG_IGN);
  if (has("term", "ignore"))
    std::signal(SIGTERM, SIG_IGN);
  if (auto it = opts.find("argv"); it != opts.end()) {
    std::ofstream out(it->second);
    for (int i = 0; i < argc; ++i)
      out << argv[i] << '\n';
  }
  if (auto it = opts.find("pidfile"); it != opts.end())
    std::ofstream(it->second, std::ios::app) << getpid() << '\n';

  // Keys arrive one by one, without Enter, as on a console.
  termios tio{};
  if (tcgetattr(STDIN_FILENO, &tio) == 0) {
    cfmakeraw(&tio);
    tio.c_oflag |= OPOST | ONLCR;
    tcsetattr(STDIN_FILENO, TCSANOW, &tio);
  }
  std::printf("stand-in engine %d\r\n", getpid());
  for (long left = number(opts, "flood", 0); left > 0; left -= 64)
    std::fputs("flooding the console with lines of text.........................\r\n", stdout);
  std::fflush(stdout);

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const long interval = number(opts, "interval", 100);
  const long crashAt = number(opts, "crash", -1);
  const long exitAt = number(opts, "exitafter", -1);
  const int exitCode = static_cast<int>(number(opts, "exit", 0));
  const bool loop = has("loop", "1");
  std::size_t next = 0;
  auto nextTitleAt = start + std::chrono::milliseconds(number(opts, "delay", 0));

  for (;;) {
    const auto now = Clock::now();
    const long elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
    if (crashAt >= 0 && elapsed >= crashAt) {
      std::signal(SIGSEGV, SIG_DFL);
      std::raise(SIGSEGV);
    }
    if (exitAt >= 0 && elapsed >= exitAt)
      return exitCode;
    if (!list.empty() && now >= nextTitleAt && (next < list.size() || loop)) {
      setTitle(list[next % list.size()]);
      ++next;
      nextTitleAt = now + std::chrono::milliseconds(interval);
    }
    pollfd pfd{STDIN_FILENO, POLLIN, 0};
    int r = poll(&pfd, 1, 10);
    if (r > 0 && (pfd.revents & POLLIN)) {
      char c = 0;
      ssize_t n = read(STDIN_FILENO, &c, 1);
      if (n == 1) {
        std::printf("key %d\r\n", c);
        std::fflush(stdout);
        if (c == 'q' && !has("q", "ignore"))
          return exitCode;
      }
    } else if (r > 0 && (pfd.revents & (POLLHUP | POLLERR))) {
      if (!has("hup", "ignore"))
        return 129;
      pause(); // hung up but told to stay: only a signal ends us
    }
  }
}
