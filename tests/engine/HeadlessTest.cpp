#include "engine/headless.h"

#include "StandinScript.h"
#include "sandbox.h"
#include "waitfor.h"

#include <array>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace mirel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::processGone;
using test::StandinScript;
using test::waitFor;

const std::string Standin = std::string("\"") + MIREL_STANDIN_PATH + "\"";
const std::string TitleFile = "/tmp/engine folder/mirelS.setup.exe.torrent";
const std::string Args = "--responsefile \"/tmp/x.torrent\" --display_interval 1";

HeadlessOptions quickQuit(std::chrono::milliseconds bound = 300ms,
                          std::chrono::milliseconds grace = 300ms) {
  HeadlessOptions o;
  o.QuitBound = bound;
  o.TermGrace = grace;
  return o;
}

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

TEST(Headless, StartupTitleThenTheEnginesTitles) {
  StandinScript script("delay=1000;interval=100", "12% Up: 0.00 MB @ 0.00 kB/s\nsecond title");
  THeadlessDownloader engine(TitleFile, Standin, Args, true);
  ASSERT_TRUE(engine.Running());
  EXPECT_EQ(engine.ReadTitle(), "ZUL! Initializing mirelS.setup.exe.torrent");
  EXPECT_TRUE(waitFor([&] { return engine.ReadTitle() == "second title"; }, 5s))
      << engine.ReadTitle();
  std::uint32_t code = 0;
  ASSERT_TRUE(engine.GetExitCode(code));
  EXPECT_EQ(code, 259u);
}

TEST(Headless, LongTitlesAreReadCut) {
  const std::string longTitle(200, 'x');
  // 126 ASCII bytes, then a three-byte character across the 127-byte limit.
  const std::string korean = std::string(126, 'a') + "가나";
  StandinScript script("interval=300", longTitle + "\n" + korean);
  THeadlessDownloader engine(TitleFile, Standin, Args, true);
  ASSERT_TRUE(engine.Running());
  EXPECT_TRUE(waitFor([&] { return engine.ReadTitle() == std::string(127, 'x'); }, 5s))
      << engine.ReadTitle();
  EXPECT_TRUE(waitFor([&] { return engine.ReadTitle() == std::string(126, 'a'); }, 5s))
      << engine.ReadTitle();
}

TEST(Headless, QuitKeyEndsTheEngine) {
  StandinScript script("exit=3");
  auto engine = std::make_unique<THeadlessDownloader>(TitleFile, Standin, Args, true);
  ASSERT_TRUE(engine->Running());
  const int pid = engine->ProcessId();
  engine->SendText("Q"); // the q key, without Shift
  std::uint32_t code = 259;
  EXPECT_TRUE(waitFor([&] { return engine->GetExitCode(code) && code != 259; }, 5s));
  EXPECT_EQ(code, 3u);
  engine.reset();
  EXPECT_TRUE(processGone(pid));
}

TEST(Headless, DestroyingStopsEnginesWithinTheBound) {
  struct Case {
    const char *what;
    const char *script;
    double maxSeconds;
  };
  // Bound 300 ms, grace 300 ms: every path ends well within 3 s.
  constexpr std::array<Case, 5> cases{{
      {"obeys q", "", 1.5},
      {"ignores q", "q=ignore", 3},
      {"ignores q, SIGTERM and hang-up", "q=ignore;term=ignore;hup=ignore", 3},
      {"already exited", "exitafter=0", 1.5},
      {"crashed", "crash=0", 1.5},
  }};
  for (const auto &c : cases) {
    StandinScript script(c.script);
    auto engine =
        std::make_unique<THeadlessDownloader>(TitleFile, Standin, Args, true, quickQuit());
    ASSERT_TRUE(engine->Running()) << c.what;
    const int pid = engine->ProcessId();
    const auto start = Clock::now();
    engine.reset();
    EXPECT_LT(secondsSince(start), c.maxSeconds) << c.what;
    EXPECT_TRUE(processGone(pid)) << c.what;
  }
}

TEST(Headless, DefaultBoundIsTenSeconds) {
  StandinScript script("q=ignore");
  auto engine = std::make_unique<THeadlessDownloader>(TitleFile, Standin, Args, true);
  ASSERT_TRUE(engine->Running());
  const int pid = engine->ProcessId();
  const auto start = Clock::now();
  engine.reset();
  const double took = secondsSince(start);
  EXPECT_GE(took, 9.9);
  EXPECT_LT(took, 12.5);
  EXPECT_TRUE(processGone(pid));
}

TEST(Headless, CrashedEngineReadsAsExited) {
  StandinScript script("crash=100");
  THeadlessDownloader engine(TitleFile, Standin, Args, true);
  ASSERT_TRUE(engine.Running());
  std::uint32_t code = 259;
  EXPECT_TRUE(waitFor([&] { return engine.GetExitCode(code) && code != 259; }, 5s));
  EXPECT_EQ(code, 128u + SIGSEGV);
}

TEST(Headless, UnrunnableEngineIsNotRunningAtOnce) {
  test::Sandbox sandbox;
  const std::string notExecutable = sandbox.write("engine.exe", "#!/bin/sh\nsleep 100\n");
  chmod(notExecutable.c_str(), 0644);
  const std::string garbage = sandbox.write("garbage.exe", "\x7f"
                                                           "ELF garbage");
  chmod(garbage.c_str(), 0755);
  struct Case {
    const char *what;
    std::string exe;
    std::string titleFile;
  };
  const std::array<Case, 5> cases{{
      {"missing", "\"" + sandbox.file("missing.exe") + "\"", TitleFile},
      {"not executable", "\"" + notExecutable + "\"", TitleFile},
      {"not a program", "\"" + garbage + "\"", TitleFile},
      {"a folder", "\"" + sandbox.path().string() + "\"", TitleFile},
      {"no file name for the title", Standin, "/tmp/folder/"},
  }};
  for (const auto &c : cases) {
    const auto start = Clock::now();
    THeadlessDownloader engine(c.titleFile, c.exe, Args, false);
    EXPECT_LT(secondsSince(start), 0.5) << c.what;
    EXPECT_FALSE(engine.Running()) << c.what;
    EXPECT_EQ(engine.ReadTitle(), "") << c.what;
    engine.ShowConsole();
    EXPECT_FALSE(engine.ConsoleVisible()) << c.what;
    std::uint32_t code = 0;
    EXPECT_FALSE(engine.GetExitCode(code)) << c.what;
    EXPECT_EQ(engine.ProcessId(), -1) << c.what;
  }
}

TEST(Headless, ConsoleVisibilityFollowsShowAndHide) {
  StandinScript script("");
  THeadlessDownloader visible(TitleFile, Standin, Args, false, quickQuit());
  ASSERT_TRUE(visible.Running());
  EXPECT_TRUE(visible.ConsoleVisible());
  visible.HideConsole();
  EXPECT_FALSE(visible.ConsoleVisible());
  visible.ShowConsole();
  EXPECT_TRUE(visible.ConsoleVisible());

  THeadlessDownloader hidden(TitleFile, Standin, Args, true, quickQuit());
  EXPECT_FALSE(hidden.ConsoleVisible());
}

TEST(Headless, ChattyEngineNeverBlocksOnItsConsole) {
  // 4 MB of output before the title: far beyond a terminal's buffer.
  StandinScript script("flood=4000000", "after the flood");
  THeadlessDownloader engine(TitleFile, Standin, Args, true, quickQuit());
  ASSERT_TRUE(engine.Running());
  EXPECT_TRUE(waitFor([&] { return engine.ReadTitle() == "after the flood"; }, 20s))
      << engine.ReadTitle();
}

} // namespace
} // namespace mirel
