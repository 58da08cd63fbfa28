#include "net/URLDownload.h"

#include "platform/MessagePump.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>

namespace mirel {
namespace {

struct FakeDisplay : IFetchDisplay {
  std::optional<std::string> speed, down, percent, remain;
  std::optional<uint32_t> gauge;
  int writes = 0;
  void SetSpeedText(const std::string &t) override { speed = t, ++writes; }
  void SetDownText(const std::string &t) override { down = t, ++writes; }
  void SetGaugePosition(uint32_t b) override { gauge = b, ++writes; }
  void SetPercentText(const std::string &t) override { percent = t, ++writes; }
  void SetRemainText(const std::string &t) override { remain = t, ++writes; }
};

// A download whose clock the test turns.
class DisplayTest : public ::testing::Test {
protected:
  DisplayTest() {
    download.Display = &display;
    download.Tick = [this] { return tick; };
  }
  void show(uint32_t bytes, uint32_t total) {
    bool cancel = false;
    download.ShowProgress(bytes, total, "status", cancel);
    EXPECT_FALSE(cancel);
  }
  FakeDisplay display;
  uint32_t tick = 0;
  TURLDownload download;
};

struct UpdateCase {
  uint32_t lastBytes, lastTick, now, bytes, total;
  const char *speed, *down;
  std::optional<std::string> percent, remain; // none: left as it was
};

TEST_F(DisplayTest, UpdateFigures) {
  static const std::array<UpdateCase, 10> cases{{
      // 1 MiB in 2999 ms counts 2 seconds: 512 KB/S, and 1 MiB left takes 2 s.
      {0, 0, 2999, 1048576, 2097152, "512.00 KB/S", "1 MB", "50.0%", " 00 분 02 초"},
      {0, 0, 1001, 1048575, 2097152, "1023.00 KB/S", "0 MB", "50.0%", " 00 분 01 초"},
      {0, 0, 1001, 1048576, 1048576, "1024.00 KB/S", "1 MB", "100.0%", " 00 분 00 초"},
      // Under 1 KB since the last update: speed 0, remaining time 0.
      {4096, 10000, 11500, 4096 + 1023, 1000000, "0.00 KB/S", "0 MB", "0.5%", " 00 분 00 초"},
      {0, 0, 1001, 51200, 1024000, "50.00 KB/S", "0 MB", "5.0%", " 00 분 19 초"},
      {0, 0, 1001, 102400, 3788800, "100.00 KB/S", "0 MB", "2.7%", " 00 분 36 초"},
      // The tick count wrapped between the updates.
      {0, 0xFFFFFC18u, 1001, 2048 * 1024, 4096 * 1024, "1024.00 KB/S", "2 MB", "50.0%",
       " 00 분 02 초"},
      // No announced length: percentage and remaining time stay as they are.
      {0, 0, 1001, 5 << 20, 0, "5120.00 KB/S", "5 MB", std::nullopt, std::nullopt},
      // More than announced: full, nothing left, never negative.
      {0, 0, 1001, 5000, 10, "4.00 KB/S", "0 MB", "100.0%", " 00 분 00 초"},
      // One hour and more to go at 1 KB/S.
      {0, 0, 1001, 1024, 3726 * 1024, "1.00 KB/S", "0 MB", "0.0%", " 01 시간 02 분 05 초"},
  }};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.bytes << " of " << c.total << " at " << c.now);
    display = FakeDisplay();
    download.LastBytes = c.lastBytes;
    download.LastTick = c.lastTick;
    tick = c.now;
    show(c.bytes, c.total);
    EXPECT_EQ(display.speed, c.speed);
    EXPECT_EQ(display.down, c.down);
    EXPECT_EQ(display.gauge, c.bytes);
    EXPECT_EQ(display.percent, c.percent);
    EXPECT_EQ(display.remain, c.remain);
    EXPECT_EQ(download.LastBytes, c.bytes);
    EXPECT_EQ(download.LastTick, c.now);
  }
}

TEST_F(DisplayTest, ThrottleAndZeroByteNotifications) {
  download.OnStartBinding();
  EXPECT_TRUE(download.Started);
  tick = 50000;
  show(0, 1000); // before any data: only the time is taken
  EXPECT_EQ(display.writes, 0);
  EXPECT_EQ(download.LastTick, 50000u);
  EXPECT_EQ(download.LastBytes, 0u);

  tick = 51000; // 1000 ms is not enough
  show(500000, 1000000);
  EXPECT_EQ(display.writes, 0);
  EXPECT_EQ(download.LastTick, 50000u);

  tick = 51001;
  show(500000, 1000000);
  EXPECT_EQ(display.percent, "50.0%");
  EXPECT_EQ(download.LastBytes, 500000u);

  // A zero count at a due time resets the bytes and shows nothing.
  const int writes = display.writes;
  tick = 53000;
  show(0, 1000000);
  EXPECT_EQ(display.writes, writes);
  EXPECT_EQ(download.LastBytes, 0u);
  EXPECT_EQ(download.LastTick, 53000u);
}

TEST_F(DisplayTest, WithoutADisplayOnlyTheStateMoves) {
  download.Display = nullptr;
  tick = 5000;
  show(4096, 8192);
  EXPECT_EQ(download.LastBytes, 4096u);
  EXPECT_EQ(download.LastTick, 5000u);
}

TEST_F(DisplayTest, AProgressEventReplacesTheDisplay) {
  uint32_t seenBytes = 0, seenTotal = 0;
  download.OnFetchProgress = [&](TURLDownload &sender, uint32_t b, uint32_t t, const std::string &,
                                 bool &cancel) {
    EXPECT_EQ(&sender, &download);
    seenBytes = b;
    seenTotal = t;
    cancel = b >= 100;
  };
  tick = 100000;
  EXPECT_TRUE(download.OnProgress(50, 200, "x"));
  EXPECT_FALSE(download.OnProgress(100, 200, "x")); // the event asked to cancel
  EXPECT_EQ(seenBytes, 100u);
  EXPECT_EQ(seenTotal, 200u);
  EXPECT_EQ(display.writes, 0);
  EXPECT_EQ(download.LastTick, 0u);
  EXPECT_EQ(download.LastBytes, 0u);
}

TEST_F(DisplayTest, ProgressPumpsAndAbortsOnClosingOrRequest) {
  int pumps = 0;
  bool closing = false;
  download.Closing = &closing;
  // The pump handles the close; it counts from the next notification.
  SetMessagePump([&] {
    ++pumps;
    closing = true;
  });
  EXPECT_TRUE(download.OnProgress(0, 0, ""));
  EXPECT_FALSE(download.OnProgress(0, 0, ""));
  EXPECT_EQ(pumps, 2);
  SetMessagePump(nullptr);

  TURLDownload other;
  other.AbortRequested = true;
  EXPECT_FALSE(other.OnProgress(0, 0, ""));
}

TEST_F(DisplayTest, CountsBeyond32BitsStayAtTheTop) {
  tick = 5000;
  EXPECT_TRUE(download.OnProgress(5'000'000'000ull, 6'000'000'000ull, ""));
  EXPECT_EQ(display.gauge, 0xFFFFFFFFu);
  EXPECT_EQ(display.percent, "100.0%");
}

TEST(RemainTimeText, Table) {
  struct Case {
    int64_t seconds;
    const char *text;
  };
  static const std::array<Case, 10> cases{{
      {0, " 00 분 00 초"},
      {1, " 00 분 01 초"},
      {45, " 00 분 45 초"},
      {60, " 01 분 00 초"},
      {3599, " 59 분 59 초"},
      {3600, " 01 시간 00 분 00 초"},
      {3725, " 01 시간 02 분 05 초"},
      {360000, " 100 시간 00 분 00 초"},
      {-1, " 00 분 00 초"},
      {INT64_MIN, " 00 분 00 초"},
  }};
  for (const auto &c : cases)
    EXPECT_EQ(TURLDownload::RemainTimeText(c.seconds), c.text) << c.seconds;
}

} // namespace
} // namespace mirel
