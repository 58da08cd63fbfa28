// A stand-in downloader for another product id: takes the instance lock the
// way the downloader does, says so on stdout and waits to be killed.
#include "app/Identity.h"
#include "app/InstanceLock.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc != 2)
    return 2;
  mirel::InstanceLock lock;
  if (lock.Acquire(mirel::InstanceMutexName(argv[1])) ==
      mirel::InstanceLock::Result::AlreadyRunning)
    return 0;
  std::printf("started\n");
  std::fflush(stdout);
  for (;;)
    pause();
}
