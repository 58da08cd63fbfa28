#include "InstanceLock.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mirel {

namespace {

bool IsFolder(const char *path) {
  struct stat st {};
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string InstanceLockFolder() {
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0' && IsFolder(runtime)) {
    std::string folder = runtime;
    if (folder.back() != '/')
      folder += '/';
    return folder;
  }
  // /tmp is shared by all users: the folder must be ours, a real folder (not
  // a link planted by someone else) and private.
  std::string folder = "/tmp/mirel-" + std::to_string(getuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return {};
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
    return {};
  if ((st.st_mode & 0077) != 0 && chmod(folder.c_str(), 0700) != 0)
    return {};
  return folder + "/";
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0)
    close(fd_);
}

InstanceLock::Result InstanceLock::Acquire(const std::string &mutexName) {
  const std::string folder = InstanceLockFolder();
  if (folder.empty())
    return Result::Failed;
  const std::string path = folder + mutexName + ".lock";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0)
    return Result::Failed;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(fd);
    return err == EWOULDBLOCK ? Result::AlreadyRunning : Result::Failed;
  }
  if (fd_ >= 0)
    close(fd_);
  fd_ = fd;
  return Result::Acquired;
}

} // namespace mirel
