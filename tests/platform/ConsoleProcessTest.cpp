#include "platform/ConsoleProcess.h"

#include "../engine/StandinScript.h"
#include "waitfor.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>

namespace mirel {
namespace {

using namespace std::chrono_literals;

bool screenHas(ConsoleProcess &console, const std::string &text) {
  console.drain();
  for (const auto &line : console.screen())
    if (line.find(text) != std::string::npos)
      return true;
  return false;
}

TEST(ConsoleProcess, TitleScreenKeysAndExitCode) {
  test::StandinScript script("q=ignore;exitafter=3000;exit=7", "first\nsecond");
  ConsoleProcess console({MIREL_STANDIN_PATH, "--an arg"}, "start-up");
  ASSERT_TRUE(console.started());
  EXPECT_EQ(console.startError(), 0);
  EXPECT_TRUE(fcntl(console.fd(), F_GETFD) & FD_CLOEXEC); // later children must not hold it
  EXPECT_TRUE(test::waitFor([&] { return console.title() == "second"; }, 5s));
  EXPECT_TRUE(test::waitFor([&] { return screenHas(console, "stand-in engine"); }, 5s));
  EXPECT_TRUE(console.write("q"));
  EXPECT_TRUE(test::waitFor([&] { return screenHas(console, "key 113"); }, 5s));
  EXPECT_EQ(console.exitCode(), ConsoleProcess::StillActive);
  EXPECT_TRUE(test::waitFor([&] { return !console.running(); }, 10s));
  EXPECT_EQ(console.exitCode(), 7u);
  EXPECT_TRUE(test::waitFor(
      [&] {
        console.drain();
        return console.hungUp();
      },
      5s));
  EXPECT_FALSE(console.write("q"));
}

TEST(ConsoleProcess, SignalsReadAs128PlusSignal) {
  test::StandinScript script("term=ignore", "ready");
  ConsoleProcess console({MIREL_STANDIN_PATH}, "t");
  ASSERT_TRUE(console.started());
  // Its signal handling is set up once it has set its title.
  ASSERT_TRUE(test::waitFor([&] { return console.title() == "ready"; }, 5s));
  console.signal(SIGTERM);
  console.signal(SIGKILL);
  EXPECT_TRUE(test::waitFor([&] { return !console.running(); }, 5s));
  EXPECT_EQ(console.exitCode(), 128u + SIGKILL);
}

TEST(ConsoleProcess, StartFailureIsKnownAtOnce) {
  ConsoleProcess missing({"/nonexistent/engine"}, "t");
  EXPECT_FALSE(missing.started());
  EXPECT_EQ(missing.startError(), ENOENT);
  EXPECT_EQ(missing.fd(), -1);
  EXPECT_FALSE(missing.running());
  EXPECT_EQ(missing.title(), "t");

  ConsoleProcess folder({"/tmp"}, "t");
  EXPECT_FALSE(folder.started());
  EXPECT_EQ(folder.startError(), EACCES);

  ConsoleProcess nothing({}, "t");
  EXPECT_FALSE(nothing.started());
}

TEST(ConsoleProcess, DestroyingKillsARunningProgram) {
  test::StandinScript script("q=ignore;term=ignore;hup=ignore");
  pid_t pid;
  {
    ConsoleProcess console({MIREL_STANDIN_PATH}, "t");
    ASSERT_TRUE(console.started());
    pid = console.pid();
    EXPECT_FALSE(test::processGone(pid));
  }
  EXPECT_TRUE(test::processGone(pid));
}

} // namespace
} // namespace mirel
