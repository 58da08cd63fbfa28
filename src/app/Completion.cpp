#include "Completion.h"

#include "FileHandle.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <memory>
#include <sys/ioctl.h>
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

// Reads until the buffer is full or the file ends; -1 on a read error.
ssize_t ReadFull(int fd, char *buf, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = read(fd, buf + got, size - got);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return -1;
    if (n == 0)
      break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

bool WriteAll(int fd, const char *buf, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, buf, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    buf += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Copies in to out. With O_DIRECT on out, whole aligned blocks go directly;
// the unaligned tail (or a file system that refuses the direct write) drops
// the flag and goes through the page cache.
bool CopyData(int in, int out) {
  constexpr size_t Chunk = 8 << 20;
  constexpr size_t Align = 4096;
  struct FreeDeleter {
    void operator()(char *p) const { std::free(p); }
  };
  const std::unique_ptr<char, FreeDeleter> buf(
      static_cast<char *>(std::aligned_alloc(Align, Chunk)));
  if (!buf)
    return false;
  bool direct = (fcntl(out, F_GETFL) & O_DIRECT) != 0;
  auto dropDirect = [&] {
    direct = false;
    return fcntl(out, F_SETFL, fcntl(out, F_GETFL) & ~O_DIRECT) == 0;
  };
  for (;;) {
    const ssize_t n = ReadFull(in, buf.get(), Chunk);
    if (n < 0)
      return false;
    if (n == 0)
      return true;
    const auto size = static_cast<size_t>(n);
    if (direct && size % Align != 0 && !dropDirect())
      return false;
    if (direct) {
      const ssize_t w = write(out, buf.get(), size);
      if (w == n)
        continue;
      // A short or refused direct write: finish the chunk the plain way.
      const size_t done = w > 0 ? static_cast<size_t>(w) : 0;
      if ((w < 0 && errno != EINVAL && errno != EINTR) || !dropDirect())
        return false;
      if (!WriteAll(out, buf.get() + done, size - done))
        return false;
      continue;
    }
    if (!WriteAll(out, buf.get(), size))
      return false;
  }
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
  const FileHandle in(open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Fd < 0)
    return false;
  const std::string temp = destination + ".part";
  // Straight to the disk where the file system allows it (not on tmpfs): a
  // setup file of a gigabyte written through the page cache, right after the
  // fetch wrote as much, runs into the kernel's dirty-page throttling.
  FileHandle out(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_DIRECT, 0644));
  if (out.Fd < 0 && errno == EINVAL)
    out.Fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out.Fd < 0)
    return false;
  // A file system that shares blocks (btrfs, XFS) copies without moving data.
  bool ok = ioctl(out.Fd, FICLONE, in.Fd) == 0 || CopyData(in.Fd, out.Fd);
  ok = out.Close() && ok;
  // rename replaces even a destination that is in use (a setup still running).
  if (ok && rename(temp.c_str(), destination.c_str()) == 0)
    return true;
  unlink(temp.c_str());
  return false;
}

} // namespace mirel
