#pragma once

#include <unistd.h>

namespace mirel {

// An owned file descriptor, closed when the object goes away.
class FileHandle {
public:
  explicit FileHandle(int fd = -1) : Fd(fd) {}
  ~FileHandle() {
    if (Fd >= 0)
      close(Fd);
  }
  FileHandle(const FileHandle &) = delete;
  FileHandle &operator=(const FileHandle &) = delete;
  // Closes now; false when the last writes did not reach the file.
  bool Close() {
    const int fd = Fd;
    Fd = -1;
    return fd >= 0 && close(fd) == 0;
  }
  int Fd;
};

} // namespace mirel
