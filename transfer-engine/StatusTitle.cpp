#include "StatusTitle.h"

#include <cmath>
#include <cstdio>

namespace mirel {

namespace {

std::string printf1(const char *fmt, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

std::string megabytes(int64_t bytes) {
  return printf1("%.2f MB", static_cast<double>(bytes) / 1048576.0);
}

std::string rate(double bytesPerSecond) {
  return printf1("%.2f kB/s", bytesPerSecond < 0 ? 0.0 : bytesPerSecond / 1024.0);
}

// Rounded down to one decimal, so 100.0 only shows when truly complete.
double tenths(double fraction) {
  double pct = std::floor(fraction * 1000.0) / 10.0;
  return pct < 0 ? 0 : (pct > 100 ? 100 : pct);
}

std::string activity(const TransferStatus &s) {
  switch (s.phase) {
  case TransferPhase::Starting:
    return "Leeching: 0.0%";
  case TransferPhase::Checking:
    return printf1("Checking: %.1f%%", tenths(s.progress));
  case TransferPhase::Leeching:
    return printf1("Leeching: %.1f%%", std::min(tenths(s.progress), 99.9));
  case TransferPhase::Seeding:
    break;
  }
  return "Seeding";
}

} // namespace

std::string printable(const std::string &text) {
  std::string out;
  for (unsigned char c : text)
    out += (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
  return out;
}

std::string formatStatusTitle(const TransferStatus &s) {
  const bool seeding = s.phase == TransferPhase::Seeding;
  const int percent = seeding ? 100 : static_cast<int>(std::min(tenths(s.progress), 99.0));
  return std::to_string(percent) + "% Up: " + megabytes(s.uploadedBytes) + " @ " +
         rate(s.uploadRate) + " Down: " + megabytes(s.downloadedBytes) + " @ " +
         rate(seeding ? 0.0 : s.downloadRate) + " | " + activity(s);
}

std::string titleSequence(const std::string &title) {
  return "\x1b]0;" + printable(title) + "\a";
}

std::string formatTimeLeft(const TransferStatus &s) {
  if (s.phase == TransferPhase::Seeding)
    return "done";
  if (s.downloadRate <= 0 || s.remainingBytes <= 0)
    return "-";
  double seconds = std::ceil(static_cast<double>(s.remainingBytes) / s.downloadRate);
  if (seconds >= 100.0 * 3600)
    return "more than 99 hours";
  auto total = static_cast<long>(seconds);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  return buf;
}

std::string formatStatusLines(const TransferStatus &s) {
  std::string phase;
  switch (s.phase) {
  case TransferPhase::Starting:
    phase = "starting";
    break;
  case TransferPhase::Checking:
    phase = printf1("checking existing data, %.1f%%", tenths(s.progress));
    break;
  case TransferPhase::Leeching:
    phase = "downloading";
    break;
  case TransferPhase::Seeding:
    phase = "complete, seeding (press q to quit)";
    break;
  }
  const double done = s.phase == TransferPhase::Seeding ? 100.0 : tenths(s.progress);
  std::string out;
  out += "saving:        " + printable(s.fileName) + "\n";
  out += "status:        " + phase + "\n";
  out += printf1("percent done:  %.1f\n", s.phase == TransferPhase::Checking ? 0.0 : done);
  out += "time left:     " + formatTimeLeft(s) + "\n";
  out += "download rate: " + rate(s.phase == TransferPhase::Seeding ? 0.0 : s.downloadRate) + "\n";
  out += "upload rate:   " + rate(s.uploadRate) + "\n";
  out += "downloaded:    " + megabytes(s.downloadedBytes) + " of " + megabytes(s.totalBytes) + "\n";
  out += "uploaded:      " + megabytes(s.uploadedBytes) + "\n";
  out += "peers:         " + std::to_string(s.peers) + " (" + std::to_string(s.seeds) + " seeds)\n";
  out += "last error:    " + (s.lastError.empty() ? std::string("none") : printable(s.lastError)) +
         "\n";
  return out;
}

} // namespace mirel
