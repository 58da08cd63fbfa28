#pragma once

#include <string>

namespace mirel {

// Stands in for the named instance mutex: an exclusive, non-blocking flock on a
// lock file named after the mutex. The descriptor stays open for the life of
// the object; the kernel drops the lock when the process dies.
class InstanceLock {
public:
  enum class Result { Acquired, AlreadyRunning, Failed };

  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock &) = delete;
  InstanceLock &operator=(const InstanceLock &) = delete;

  // Only AlreadyRunning means another process holds the lock; a lock that
  // cannot be set up at all (Failed) lets start-up go on.
  Result Acquire(const std::string &mutexName);

private:
  int fd_ = -1;
};

// Folder of the lock files: $XDG_RUNTIME_DIR when it names a folder, else a
// per-user folder under /tmp ("/tmp/mirel-<uid>/", made private). With a
// trailing "/"; empty when no safe folder can be had.
std::string InstanceLockFolder();

} // namespace mirel
