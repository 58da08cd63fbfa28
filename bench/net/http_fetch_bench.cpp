// Fetches one URL with TURLDownload, display and message pump on, and prints
// "<peak RSS growth KiB> <longest pump gap ms> <pump calls>".
#include "PumpClock.h"
#include "net/URLDownload.h"
#include "platform/MessagePump.h"

#include <cstdio>

namespace {

struct NullDisplay : mirel::IFetchDisplay {
  long writes = 0;
  void SetSpeedText(const std::string &) override { ++writes; }
  void SetDownText(const std::string &) override { ++writes; }
  void SetGaugePosition(uint32_t) override { ++writes; }
  void SetPercentText(const std::string &) override { ++writes; }
  void SetRemainText(const std::string &) override { ++writes; }
};

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s URL FILE\n", argv[0]);
    return 2;
  }
  mirel::bench::PumpClock pumpClock;
  mirel::SetMessagePump([&] { pumpClock.pump(); });
  NullDisplay display;
  bool closing = false;
  mirel::TURLDownload download;
  download.URL = argv[1];
  download.Display = &display;
  download.Closing = &closing;

  const long rssBefore = mirel::bench::statusKiB("VmRSS");
  pumpClock.start();
  const bool ok = download.Fetch(argv[2]);
  const long peak = mirel::bench::statusKiB("VmHWM");
  if (!ok) {
    std::fprintf(stderr, "fetch failed: %s\n", download.StatusText.c_str());
    return 1;
  }
  std::printf("%ld %.1f %ld\n", peak - rssBefore, pumpClock.longestMs(), pumpClock.calls());
  return 0;
}
