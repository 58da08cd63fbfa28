// The engine when things go wrong: nobody to download from, no tracker,
// its terminal gone, and the conditions it cannot run under at all.
#include "EnginePty.h"
#include "freeport.h"
#include "sandbox.h"
#include "swarm.h"
#include "waitfor.h"

#include <array>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mirel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char *const ErrorPrompt = "EXITED ON ERROR; PRESS ANY KEY TO CLOSE WINDOW";

// A small torrent; the tracker it names may or may not run.
struct Lonely {
  Sandbox box;
  std::string torrent = box.file("lonely.torrent");
  int trackerPort = freePort();

  Lonely() {
    writeRandomFile(box.file("data.bin"), 300000, 7);
    makeTorrent(box.file("data.bin"), Tracker::announceUrl(trackerPort), torrent, 15);
  }
  std::vector<std::string> args() const {
    int port = freePort();
    return {"--responsefile",     torrent,
            "--saveas",           box.file("out/data.bin"),
            "--minport",          std::to_string(port),
            "--maxport",          std::to_string(port + 20),
            "--display_interval", "0.1"};
  }
};

// The engine keeps setting a current title while nothing arrives.
void expectKeepsRunning(EnginePty &engine) {
  ASSERT_TRUE(waitFor([&] { return engine.titles().size() >= 12 || engine.exited(); }, 10s));
  ASSERT_FALSE(engine.exited()) << engine.output();
  for (const auto &title : engine.titles()) {
    auto t = parseTitle(title);
    ASSERT_TRUE(t) << title;
    EXPECT_EQ(t->activity, "Leeching: 0.0%");
    EXPECT_EQ(t->downloadedMB, 0.0);
  }
}

TEST(EngineAlone, NoSeederKeepsTheTitleCurrentAndQQuits) {
  Lonely l;
  Tracker tracker({infoHashHex(l.torrent)}, l.trackerPort);
  EnginePty engine(l.args());
  expectKeepsRunning(engine);
  EXPECT_TRUE(waitFor([&] { return tracker.leechers(infoHashHex(l.torrent)) == 1; }, 5s, 100ms));
  engine.send("Q");
  ASSERT_TRUE(engine.waitExit(8s));
  EXPECT_EQ(engine.exitCode(), 0);
  EXPECT_TRUE(waitFor([&] { return tracker.leechers(infoHashHex(l.torrent)) == 0; }, 5s, 100ms));
}

TEST(EngineAlone, TrackerDownIsShownAndQuittingStaysQuick) {
  Lonely l; // nothing listens on its tracker port
  EnginePty engine(l.args());
  expectKeepsRunning(engine);
  EXPECT_TRUE(waitFor(
      [&] { return engine.output().find("last error:    tracker") != std::string::npos; }, 10s));
  const auto start = std::chrono::steady_clock::now();
  engine.send("q");
  ASSERT_TRUE(engine.waitExit(8s));
  EXPECT_EQ(engine.exitCode(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(EngineAlone, EndsWhenItsTerminalHangsUpOrItIsTerminated) {
  Lonely l;
  {
    EnginePty engine(l.args());
    ASSERT_TRUE(waitFor([&] { return !engine.titles().empty(); }, 10s)) << engine.output();
    engine.hangUp();
    EXPECT_TRUE(engine.waitExit(8s));
  }
  {
    EnginePty engine(l.args());
    ASSERT_TRUE(waitFor([&] { return !engine.titles().empty(); }, 10s)) << engine.output();
    kill(engine.pid(), SIGTERM);
    ASSERT_TRUE(engine.waitExit(8s));
    EXPECT_EQ(engine.exitCode(), 0);
  }
}

// Listening sockets on count ports in a row from a free one, on all addresses.
struct BusyPorts {
  std::vector<int> fds;
  int first = 0;
  explicit BusyPorts(int count) {
    for (int attempt = 0; attempt < 50 && fds.empty(); ++attempt) {
      first = freePort();
      for (int p = first; p < first + count; ++p) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(p));
        if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd, 1) != 0) {
          close(fd);
          release();
          break;
        }
        fds.push_back(fd);
      }
    }
    if (fds.empty())
      throw std::runtime_error("no free run of ports");
  }
  void release() {
    for (int fd : fds)
      close(fd);
    fds.clear();
  }
  ~BusyPorts() { release(); }
};

struct FatalCase {
  const char *name;
  // Given the sandbox and a valid torrent, the arguments to run with.
  std::vector<std::string> (*args)(Lonely &l, int busyPort);
  const char *reason;
  bool endByHangUp; // else a key ends the wait
};

TEST(EngineFatal, ShowsTheReasonWaitsForAKeyAndFails) {
  const std::array<FatalCase, 9> cases{{
      {"missing value",
       [](Lonely &l, int) {
         return std::vector<std::string>{"--responsefile", l.torrent, "--saveas"};
       },
       "needs a value", false},
      {"unknown option",
       [](Lonely &l, int) {
         return std::vector<std::string>{"--responsefile", l.torrent, "--turbo", "1"};
       },
       "unknown option", false},
      {"bad number",
       [](Lonely &l, int) {
         return std::vector<std::string>{"--responsefile", l.torrent, "--max_uploads", "1O"};
       },
       "bad value for --max_uploads", false},
      {"metainfo missing",
       [](Lonely &l, int) {
         return std::vector<std::string>{"--responsefile", l.box.file("nope.torrent")};
       },
       "cannot read the metainfo file", false},
      {"metainfo is a folder",
       [](Lonely &l, int) {
         return std::vector<std::string>{"--responsefile", l.box.file("")};
       },
       "cannot read the metainfo file", false},
      {"metainfo invalid",
       [](Lonely &l, int) {
         return std::vector<std::string>{"--responsefile",
                                         l.box.write("bad.torrent", "d4:infoi3ee")};
       },
       "invalid metainfo file", false},
      {"target folder unwritable",
       [](Lonely &l, int) {
         // Root ignores mode bits, but nobody makes a folder inside a file.
         l.box.write("plain-file", "x");
         return std::vector<std::string>{"--responsefile", l.torrent, "--saveas",
                                         l.box.file("plain-file/out.bin")};
       },
       "cannot create the folder", false},
      {"every port busy",
       [](Lonely &l, int busy) {
         return std::vector<std::string>{"--responsefile", l.torrent,
                                         "--saveas",       l.box.file("out.bin"),
                                         "--minport",      std::to_string(busy),
                                         "--maxport",      std::to_string(busy + 2)};
       },
       "cannot listen on any port", false},
      {"hang-up ends the wait",
       [](Lonely &l, int) {
         return std::vector<std::string>{"--responsefile", l.box.file("x")};
       },
       "cannot read the metainfo file", true},
  }};
  BusyPorts busy(3);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Lonely l;
    EnginePty engine(c.args(l, busy.first));
    ASSERT_TRUE(waitFor(
        [&] { return engine.output().find(ErrorPrompt) != std::string::npos || engine.exited(); },
        10s))
        << engine.output();
    EXPECT_NE(engine.output().find(c.reason), std::string::npos) << engine.output();
    ASSERT_FALSE(engine.exited()) << "did not wait for a key";
    EXPECT_TRUE(engine.titles().empty()) << "a status title before any status";
    if (c.endByHangUp)
      engine.hangUp();
    else
      engine.send("x");
    ASSERT_TRUE(engine.waitExit(5s));
    EXPECT_NE(engine.exitCode(), 0);
  }
}

} // namespace
} // namespace mirel::test
