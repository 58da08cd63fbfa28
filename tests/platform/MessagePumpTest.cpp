#include "platform/MessagePump.h"

#include <gtest/gtest.h>

namespace mirel {
namespace {

TEST(MessagePump, CallsThePluggedHookAndNothingWithout) {
  ProcessMessages(); // no hook: nothing happens
  int calls = 0;
  SetMessagePump([&] { ++calls; });
  ProcessMessages();
  ProcessMessages();
  EXPECT_EQ(calls, 2);

  // A pump that replaces itself while it runs must not pull the rug out.
  int inner = 0;
  SetMessagePump([&] {
    SetMessagePump([&] { ++inner; });
    ++calls;
  });
  ProcessMessages();
  ProcessMessages();
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(inner, 1);
  SetMessagePump(nullptr);
  ProcessMessages();
  EXPECT_EQ(inner, 1);
}

} // namespace
} // namespace mirel
