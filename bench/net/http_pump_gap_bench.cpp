// The longest gap between two message-pump calls during TURLDownload
// fetches: while connecting to a server that never answers (a listening
// socket with a full backlog, and the blackholed address 10.255.255.1), and
// during a transfer of the URL given. Prints one line per case, the largest
// gap last as "<ms>".
#include "PumpClock.h"
#include "httpservers.h"
#include "net/URLDownload.h"
#include "platform/MessagePump.h"

#include <cstdio>

namespace {

double measure(const char *what, const std::string &url, const std::string &file,
               long connectTimeoutMs) {
  mirel::bench::PumpClock pumpClock;
  mirel::SetMessagePump([&] { pumpClock.pump(); });
  mirel::TURLDownload download;
  download.URL = url;
  download.Limits.ConnectTimeoutMs = connectTimeoutMs;
  pumpClock.start();
  const bool ok = download.Fetch(file);
  pumpClock.pump(); // the time from the last pump to the end counts too
  mirel::SetMessagePump(nullptr);
  std::printf("%s: %s, %ld pump calls, longest gap %.1f ms\n", what, ok ? "fetched" : "failed",
              pumpClock.calls(), pumpClock.longestMs());
  return pumpClock.longestMs();
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s URL FILE\n", argv[0]);
    return 2;
  }
  mirel::test::BlackholeListener blackhole;
  double gap = measure("connect to a full backlog", blackhole.url("x"), argv[2], 3000);
  gap = std::max(gap, measure("connect to 10.255.255.1", "http://10.255.255.1/x", argv[2], 3000));
  gap = std::max(gap, measure("transfer", argv[1], argv[2], 30000));
  std::printf("%.1f\n", gap);
  return 0;
}
