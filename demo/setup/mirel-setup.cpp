// The sample Mirel(s) setup program: proves that it ran by printing a line and
// writing a marker file. The marker goes to $MIREL_SETUP_MARKER, else next to
// the program as "<program>.ran". Bytes appended to the program (the payload
// of a real setup) do not disturb it.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

int main() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) {
    perror("mirel-setup: readlink");
    return 1;
  }
  self[n] = '\0';

  char marker[PATH_MAX + 8];
  const char *env = getenv("MIREL_SETUP_MARKER");
  if (env != nullptr && *env != '\0')
    snprintf(marker, sizeof marker, "%s", env);
  else
    snprintf(marker, sizeof marker, "%s.ran", self);

  struct stat st;
  const long long size = stat(self, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);

  // Written under another name and renamed, so a watcher never reads half.
  char temp[PATH_MAX + 16];
  snprintf(temp, sizeof temp, "%s.tmp", marker);
  std::FILE *out = fopen(temp, "w");
  if (out == nullptr) {
    fprintf(stderr, "mirel-setup: cannot write %s: %s\n", temp, strerror(errno));
    return 1;
  }
  fprintf(out, "path=%s\nbytes=%lld\npid=%ld\ntime=%lld.%09ld\n", self, size,
          static_cast<long>(getpid()), static_cast<long long>(now.tv_sec), now.tv_nsec);
  if (fclose(out) != 0 || rename(temp, marker) != 0) {
    fprintf(stderr, "mirel-setup: cannot write %s\n", marker);
    return 1;
  }
  printf("Mirel(s) setup ran: %s (%lld bytes)\n", self, size);
  return 0;
}
