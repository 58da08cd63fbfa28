#include "Completion.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mirel {

namespace {

constexpr int ShellSuccess = 42;
constexpr int ErrorFileNotFound = 2;
constexpr int ErrorAccessDenied = 5;
constexpr int ErrorNoAssociation = 31;

bool IsProgram(const std::string &path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  char head[4] = {};
  const ssize_t n = read(fd, head, sizeof head);
  close(fd);
  return (n == 4 && std::memcmp(head,
                                "\x7f"
                                "ELF",
                                4) == 0) ||
         (n >= 2 && head[0] == '#' && head[1] == '!');
}

// Starts argv detached (double fork, new session) so the program outlives
// us and leaves no zombie. Returns 0 when exec succeeded, else its errno.
int SpawnDetached(const char *const argv[]) {
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0)
    return errno;
  const pid_t pid = fork();
  if (pid < 0) {
    const int err = errno;
    close(pipefd[0]);
    close(pipefd[1]);
    return err;
  }
  if (pid == 0) {
    close(pipefd[0]);
    setsid();
    const pid_t grandchild = fork();
    if (grandchild == 0) {
      const int devnull = open("/dev/null", O_RDWR);
      if (devnull >= 0) {
        dup2(devnull, STDIN_FILENO);
        close(devnull);
      }
      execvp(argv[0], const_cast<char *const *>(argv));
      const int err = errno;
      (void)!write(pipefd[1], &err, sizeof err);
      _exit(127);
    }
    if (grandchild < 0) {
      const int err = errno;
      (void)!write(pipefd[1], &err, sizeof err);
    }
    _exit(0);
  }
  close(pipefd[1]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // EOF means the exec went through (the pipe closed on exec).
  int err = 0;
  ssize_t n;
  while ((n = read(pipefd[0], &err, sizeof err)) < 0 && errno == EINTR) {
  }
  close(pipefd[0]);
  return n == static_cast<ssize_t>(sizeof err) ? err : 0;
}

} // namespace

int ShellExecuteOpen(const std::string &path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return ErrorFileNotFound;
  if (IsProgram(path)) {
    if (chmod(path.c_str(), st.st_mode | S_IXUSR | S_IXGRP | S_IXOTH) != 0)
      return ErrorAccessDenied;
    const char *argv[] = {path.c_str(), nullptr};
    const int err = SpawnDetached(argv);
    if (err == 0)
      return ShellSuccess;
    return err == ENOENT ? ErrorFileNotFound : ErrorAccessDenied;
  }
  const char *argv[] = {"xdg-open", path.c_str(), nullptr};
  return SpawnDetached(argv) == 0 ? ShellSuccess : ErrorNoAssociation;
}

void DebugTrace(const std::string &text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

bool CopyFileReplacing(const std::string &source, const std::string &destination) {
  const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0)
    return false;
  const std::string temp = destination + ".part";
  const int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    close(in);
    return false;
  }
  bool ok = true;
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = read(in, buf, sizeof buf);
    if (n == 0)
      break;
    if (n < 0) {
      if (errno == EINTR)
        continue;
      ok = false;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(out, buf + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR)
        continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok)
      break;
  }
  close(in);
  ok = close(out) == 0 && ok;
  // rename replaces even a destination that is in use (a setup still running).
  if (ok && rename(temp.c_str(), destination.c_str()) == 0)
    return true;
  unlink(temp.c_str());
  return false;
}

} // namespace mirel
