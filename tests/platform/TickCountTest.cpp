#include "platform/TickCount.h"

#include "waitfor.h"

#include <gtest/gtest.h>

#include <ctime>

namespace mirel {
namespace {

TEST(TickCount, FollowsTheMonotonicClockInMilliseconds) {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint32_t expected =
      static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
  const uint32_t tick = GetTickCount();
  EXPECT_LT(static_cast<uint32_t>(tick - expected), 50u);

  // It moves forward: 30 ms later the difference (taken modulo 2^32) shows it.
  EXPECT_TRUE(test::waitFor([&] { return static_cast<uint32_t>(GetTickCount() - tick) >= 30; },
                            std::chrono::seconds(2), std::chrono::milliseconds(5)));
}

} // namespace
} // namespace mirel
