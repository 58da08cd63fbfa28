#include "StatusTitle.h"

#include <array>
#include <gtest/gtest.h>

namespace mirel {
namespace {

TransferStatus leeching(double progress, int64_t down, double downRate) {
  TransferStatus s;
  s.phase = TransferPhase::Leeching;
  s.progress = progress;
  s.downloadedBytes = down;
  s.downloadRate = downRate;
  s.totalBytes = 10 * 1048576;
  s.remainingBytes = s.totalBytes - down;
  return s;
}

TEST(StatusTitle, LeechingTitleInTheFixedFormat) {
  // 1.5 MiB of 10 MiB at 512 kB/s: the example the host is built around.
  TransferStatus s = leeching(0.12, 1572864, 512 * 1024);
  EXPECT_EQ(formatStatusTitle(s),
            "12% Up: 0.00 MB @ 0.00 kB/s Down: 1.50 MB @ 512.00 kB/s | Leeching: 12.0%");
}

TEST(StatusTitle, PercentagesNeverRoundUpToComplete) {
  struct Case {
    double progress;
    const char *lead;
    const char *activity;
  };
  const std::array<Case, 4> cases{{
      {0.0, "0%", "Leeching: 0.0%"},
      {0.12345, "12%", "Leeching: 12.3%"},
      {0.9996, "99%", "Leeching: 99.9%"},
      {1.0, "99%", "Leeching: 99.9%"}, // complete only once the engine says Seeding
  }};
  for (const auto &c : cases) {
    std::string title = formatStatusTitle(leeching(c.progress, 0, 0));
    EXPECT_EQ(title.substr(0, title.find(' ')), c.lead) << c.progress;
    EXPECT_EQ(title.substr(title.find("| ") + 2), c.activity) << c.progress;
  }
}

TEST(StatusTitle, SeedingReportsNoDownloadRate) {
  TransferStatus s = leeching(1.0, 10 * 1048576, 300000);
  s.phase = TransferPhase::Seeding;
  s.uploadedBytes = 3 * 1048576 + 5243; // 3.005 MB
  s.uploadRate = 2048;
  EXPECT_EQ(formatStatusTitle(s),
            "100% Up: 3.01 MB @ 2.00 kB/s Down: 10.00 MB @ 0.00 kB/s | Seeding");
  EXPECT_NE(formatStatusLines(s).find("download rate: 0.00 kB/s"), std::string::npos);
}

TEST(StatusTitle, CheckingIsNotLeeching) {
  TransferStatus s;
  s.phase = TransferPhase::Checking;
  s.progress = 0.5;
  EXPECT_EQ(formatStatusTitle(s),
            "50% Up: 0.00 MB @ 0.00 kB/s Down: 0.00 MB @ 0.00 kB/s | Checking: 50.0%");
}

TEST(StatusTitle, TitleSequenceCannotBeEndedEarly) {
  EXPECT_EQ(titleSequence("a\x07"
                          "b\x1b]0;c"),
            "\x1b]0;a?b?]0;c\x07");
  TransferStatus s;
  s.lastError = "tracker: \x1b[2Jgone";
  s.fileName = "x\ny";
  std::string lines = formatStatusLines(s);
  EXPECT_EQ(lines.find('\x1b'), std::string::npos);
  EXPECT_NE(lines.find("x?y"), std::string::npos);
}

TEST(StatusTitle, TimeLeft) {
  struct Case {
    int64_t remaining;
    double rate;
    TransferPhase phase;
    const char *expect;
  };
  const std::array<Case, 5> cases{{
      {1024, 0, TransferPhase::Leeching, "-"},
      {3661 * 1024, 1024, TransferPhase::Leeching, "1:01:01"},
      {1, 1024, TransferPhase::Leeching, "0:00:01"},
      {int64_t{1} << 50, 1, TransferPhase::Leeching, "more than 99 hours"},
      {0, 0, TransferPhase::Seeding, "done"},
  }};
  for (const auto &c : cases) {
    TransferStatus s;
    s.phase = c.phase;
    s.remainingBytes = c.remaining;
    s.downloadRate = c.rate;
    EXPECT_EQ(formatTimeLeft(s), c.expect) << c.remaining;
  }
}

} // namespace
} // namespace mirel
