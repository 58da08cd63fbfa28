// The downloader's own transfer engine, hosted the way the downloader hosts it.
#include "engine/headless.h"

#include "StandinScript.h"
#include "freeport.h"
#include "sandbox.h"
#include "waitfor.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>

namespace mirel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string Engine = std::string("\"") + MIREL_ENGINE_PATH + "\"";

HeadlessOptions bounded() {
  HeadlessOptions o;
  o.QuitBound = 5s;
  o.TermGrace = 1s;
  return o;
}

// A metainfo file for a small complete file, announcing to a loopback port
// where nobody listens: the engine checks the file, then seeds.
struct SeedFixture {
  test::Sandbox sandbox;
  std::string content = sandbox.write("data/setup.exe", std::string(200000, 'm'));
  std::string metainfo = sandbox.file("mirelS.setup.exe.torrent");

  SeedFixture() {
    const std::string cmd =
        "mktorrent -l 15 -a http://127.0.0.1:" + std::to_string(test::freePort()) +
        "/announce -o '" + metainfo + "' '" + content + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0)
      throw std::runtime_error("mktorrent failed");
  }
  std::string args() const {
    return "--responsefile \"" + metainfo + "\" --saveas \"" + content +
           "\" --max_uploads 10 --min_uploads 3 --display_interval 1";
  }
};

TEST(RealEngine, ReportsStatusAndQuitsOnQ) {
  SeedFixture f;
  auto engine =
      std::make_unique<THeadlessDownloader>(f.metainfo, Engine, f.args(), true, bounded());
  ASSERT_TRUE(engine->Running());
  const std::string first = engine->ReadTitle();
  // Either still the start-up title, or already the engine's own.
  EXPECT_TRUE(first == "ZUL! Initializing mirelS.setup.exe.torrent" ||
              first.find(" Up: ") != std::string::npos)
      << first;
  std::string title;
  EXPECT_TRUE(test::waitFor(
      [&] {
        title = engine->ReadTitle();
        return title.find(" | ") != std::string::npos && title.find("eeding") != std::string::npos;
      },
      20s))
      << title;
  EXPECT_NE(title.find(" Up: "), std::string::npos) << title;
  EXPECT_NE(title.find(" Down: "), std::string::npos) << title;
  EXPECT_LE(title.size(), 127u);

  const int pid = engine->ProcessId();
  const auto start = Clock::now();
  engine.reset();
  // Gone by the quit key, well before the bound would send SIGTERM.
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 5.0);
  EXPECT_TRUE(test::processGone(pid));
}

TEST(RealEngine, FatalErrorWaitsForAKeyWithTheStartupTitle) {
  test::Sandbox sandbox;
  const std::string missing = sandbox.file("missing.torrent");
  auto engine = std::make_unique<THeadlessDownloader>(
      missing, Engine,
      "--responsefile \"" + missing + "\" --saveas \"" + sandbox.file("out") +
          "\" --max_uploads 10 --min_uploads 3 --display_interval 1",
      true, bounded());
  ASSERT_TRUE(engine->Running());
  // It stays, waiting for a key, and never sets a status title.
  EXPECT_FALSE(test::waitFor(
      [&] {
        std::uint32_t code = 0;
        return engine->GetExitCode(code) && code != 259;
      },
      1s));
  EXPECT_EQ(engine->ReadTitle(), "ZUL! Initializing missing.torrent");
  const int pid = engine->ProcessId();
  const auto start = Clock::now();
  engine.reset(); // the q key ends the wait
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 5.0);
  EXPECT_TRUE(test::processGone(pid));
}

} // namespace
} // namespace mirel
