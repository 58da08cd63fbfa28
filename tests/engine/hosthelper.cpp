// A host that starts one engine and then waits to be killed, for the test
// that kills the host hard. Usage: hosthelper ENGINE PIDFILE
#include "engine/headless.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc != 3)
    return 2;
  mirel::THeadlessDownloader engine("/tmp/x.torrent", std::string("\"") + argv[1] + "\"",
                                    "--display_interval 1", true);
  if (!engine.Running())
    return 1;
  // Written whole, then renamed, so the test never reads half a number.
  const std::string tmp = std::string(argv[2]) + ".tmp";
  std::ofstream(tmp) << engine.ProcessId() << '\n';
  std::rename(tmp.c_str(), argv[2]);
  for (;;)
    pause();
}
