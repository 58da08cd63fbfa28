// The engine against other BitTorrent clients, with opentracker, on loopback.
#include "EnginePty.h"
#include "freeport.h"
#include "sandbox.h"
#include "swarm.h"
#include "waitfor.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace mirel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::size_t FileSize = 24 * 1024 * 1024 + 12345; // last piece short

// Content, metainfo and a tracker that serves it.
struct Swarm {
  Sandbox box;
  std::string content;
  std::string torrent;
  std::string hash;
  std::unique_ptr<Tracker> tracker;

  Swarm() {
    fs::create_directories(box.path() / "seed");
    content = box.file("seed/Mirel Setup.exe");
    writeRandomFile(content, FileSize, 42);
    torrent = box.file("mirelS.setup.exe.torrent");
    int port = freePort();
    makeTorrent(content, Tracker::announceUrl(port), torrent);
    hash = infoHashHex(torrent);
    tracker = std::make_unique<Tracker>(std::vector<std::string>{hash}, port);
  }

  std::vector<std::string> engineArgs(const std::string &saveAs, bool checkHashes = true) const {
    int port = freePort();
    std::vector<std::string> args{"--responsefile", torrent, "--saveas", saveAs};
    if (!checkHashes)
      args.insert(args.end(), {"--check_hashes", "0"});
    args.insert(args.end(),
                {"--max_uploads", "10", "--min_uploads", "3", "--minport", std::to_string(port),
                 "--maxport", std::to_string(port + 20), "--display_interval", "0.25"});
    return args;
  }
};

bool lastTitleIs(EnginePty &engine, const std::string &activity) {
  auto titles = engine.titles();
  if (titles.empty())
    return false;
  auto t = parseTitle(titles.back());
  return t && t->activity == activity;
}

// Every title follows the format, amounts never go down, progress only grows,
// and once "Seeding" shows it stays with a download rate of 0.00.
void expectSaneTitles(const std::vector<std::string> &titles, bool expectLeeching) {
  ASSERT_FALSE(titles.empty());
  ParsedTitle prev;
  double prevPct = -1;
  bool seeding = false;
  int leeching = 0;
  for (const auto &title : titles) {
    auto t = parseTitle(title);
    ASSERT_TRUE(t) << "title out of format: " << title;
    EXPECT_GE(t->uploadedMB, prev.uploadedMB) << title;
    EXPECT_GE(t->downloadedMB, prev.downloadedMB) << title;
    if (t->activity.rfind("Leeching: ", 0) == 0) {
      EXPECT_FALSE(seeding) << "leeching after seeding: " << title;
      ASSERT_EQ(t->activity.back(), '%') << title;
      double pct = std::stod(t->activity.substr(10));
      EXPECT_GE(pct, prevPct) << title;
      EXPECT_LT(pct, 100.0) << title;
      prevPct = pct;
      ++leeching;
    } else if (t->activity == "Seeding") {
      seeding = true;
      EXPECT_EQ(t->downloadRate, 0.0) << title;
      EXPECT_EQ(title.rfind("100% ", 0), 0u) << title;
    } else {
      EXPECT_EQ(t->activity.rfind("Checking: ", 0), 0u) << title;
      EXPECT_FALSE(seeding) << title;
    }
    prev = *t;
  }
  EXPECT_TRUE(seeding);
  if (expectLeeching) {
    EXPECT_GT(leeching, 0);
  }
}

void quitWithQ(EnginePty &engine) {
  engine.send("q");
  ASSERT_TRUE(engine.waitExit(8s)) << engine.output();
  EXPECT_EQ(engine.exitCode(), 0);
}

struct LeechCase {
  PeerClient seeder;
  bool damagedCopyOnDisk; // the target already holds partly wrong data
};

void PrintTo(const LeechCase &c, std::ostream *os) {
  *os << peerClientName(c.seeder) << (c.damagedCopyOnDisk ? " over a damaged copy" : "");
}

class EngineLeeches : public testing::TestWithParam<LeechCase> {};

TEST_P(EngineLeeches, FileArrivesByteIdenticalAndTheTitlesTellTheStory) {
  const LeechCase c = GetParam();
  Swarm swarm;
  // Slowed so the titles show the download in progress.
  Peer seeder(c.seeder, swarm.torrent, swarm.box.file("seed"), true, swarm.box.file("seeder.log"),
              8 * 1024);
  ASSERT_TRUE(waitFor([&] { return swarm.tracker->seeders(swarm.hash) >= 1; }, 30s, 100ms))
      << peerClientName(c.seeder) << " did not announce; see " << swarm.box.file("seeder.log");

  // The name differs from the one in the metainfo.
  const std::string target = swarm.box.file("work/Setup copy.exe");
  if (c.damagedCopyOnDisk) {
    std::string damaged = readFile(swarm.content);
    damaged.replace(damaged.size() / 3, 4096, std::string(4096, 'x'));
    damaged.resize(damaged.size() / 2);
    swarm.box.write("work/Setup copy.exe", damaged);
  }

  EnginePty engine(swarm.engineArgs(target));
  ASSERT_TRUE(waitFor([&] { return lastTitleIs(engine, "Seeding") || engine.exited(); }, 60s))
      << engine.output();
  ASSERT_FALSE(engine.exited()) << engine.output();

  EXPECT_TRUE(readFile(target) == readFile(swarm.content)) << "content differs";
  EXPECT_FALSE(fs::exists(swarm.box.file("work/Mirel Setup.exe")));
  expectSaneTitles(engine.titles(), true);
  auto last = parseTitle(engine.titles().back());
  ASSERT_TRUE(last);
  // What came over the wire; a damaged copy contributes its good pieces.
  EXPECT_LE(last->downloadedMB, FileSize / 1048576.0 + 0.01);
  if (!c.damagedCopyOnDisk) {
    EXPECT_GE(last->downloadedMB, FileSize / 1048576.0 - 0.01);
  }

  // The engine seeds now; quitting tells the tracker it has gone.
  ASSERT_TRUE(waitFor([&] { return swarm.tracker->seeders(swarm.hash) == 2; }, 20s, 100ms));
  quitWithQ(engine);
  EXPECT_TRUE(waitFor([&] { return swarm.tracker->seeders(swarm.hash) == 1; }, 5s, 100ms))
      << "no \"stopped\" announce reached the tracker";
}

INSTANTIATE_TEST_SUITE_P(Clients, EngineLeeches,
                         testing::Values(LeechCase{PeerClient::Aria2, false},
                                         LeechCase{PeerClient::Transmission, true}),
                         [](const testing::TestParamInfo<LeechCase> &param) {
                           return std::string(param.param.seeder == PeerClient::Aria2
                                                  ? "FromAria2"
                                                  : "FromTransmissionOverDamagedCopy");
                         });

TEST(EngineSeeds, Aria2DownloadsFromTheEngine) {
  Swarm swarm;
  // Trusted data under another name than the metainfo's: seeded at once.
  const std::string target = swarm.box.file("seed/renamed.bin");
  fs::rename(swarm.content, target);
  EnginePty engine(swarm.engineArgs(target, false));
  ASSERT_TRUE(waitFor([&] { return swarm.tracker->seeders(swarm.hash) >= 1; }, 20s, 100ms))
      << engine.output();

  fs::create_directories(swarm.box.path() / "leech");
  Peer leecher(PeerClient::Aria2, swarm.torrent, swarm.box.file("leech"), false,
               swarm.box.file("leecher.log"));
  ASSERT_TRUE(waitFor([&] { return !leecher.process().running(); }, 60s))
      << readFile(swarm.box.file("leecher.log"));
  EXPECT_TRUE(leecher.finished());
  EXPECT_TRUE(readFile(swarm.box.file("leech/Mirel Setup.exe")) == readFile(target));

  // Its upload shows in the title.
  ASSERT_TRUE(waitFor(
      [&] {
        auto titles = engine.titles();
        auto t = titles.empty() ? std::nullopt : parseTitle(titles.back());
        return t && t->uploadedMB >= FileSize / 1048576.0 - 0.01;
      },
      10s))
      << engine.titles().back();
  expectSaneTitles(engine.titles(), false);
  quitWithQ(engine);
}

// Where the data goes and what is trusted, seen without any peer: the
// tracker named in the metainfo is not running.
TEST(EngineTarget, MultiFileTorrentLandsInTheFolderGivenAsSaveAs) {
  Sandbox box;
  fs::create_directories(box.path() / "pkg/sub");
  writeRandomFile(box.file("pkg/a.bin"), 700000, 1);
  writeRandomFile(box.file("pkg/sub/b.bin"), 300000, 2);
  const std::string torrent = box.file("pkg.torrent");
  makeTorrent(box.file("pkg"), Tracker::announceUrl(freePort()), torrent, 15);
  // The files already sit in the folder that takes the torrent's top folder's place.
  fs::rename(box.path() / "pkg", box.path() / "Mirel Setup");

  int port = freePort();
  EnginePty engine({"--responsefile", torrent, "--saveas", box.file("Mirel Setup"), "--minport",
                    std::to_string(port), "--maxport", std::to_string(port + 20),
                    "--display_interval", "0.1"});
  ASSERT_TRUE(waitFor([&] { return lastTitleIs(engine, "Seeding") || engine.exited(); }, 20s))
      << engine.output();
  EXPECT_FALSE(fs::exists(box.path() / "pkg"));
  quitWithQ(engine);
}

TEST(EngineTarget, PartialDataIsCheckedEvenWhenHashChecksAreOff) {
  Sandbox box;
  const std::string content = box.file("data.bin");
  writeRandomFile(content, 1 << 20, 3);
  const std::string torrent = box.file("data.torrent");
  makeTorrent(content, Tracker::announceUrl(freePort()), torrent, 15);
  // The first half is right; trusting the whole file would seed garbage.
  std::string half = readFile(content).substr(0, 1 << 19);
  const std::string target = box.write("out/data.bin", half);

  int port = freePort();
  EnginePty engine({"--responsefile", torrent, "--saveas", target, "--check_hashes", "0",
                    "--minport", std::to_string(port), "--maxport", std::to_string(port + 20),
                    "--display_interval", "0.1"});
  ASSERT_TRUE(
      waitFor([&] { return lastTitleIs(engine, "Leeching: 50.0%") || engine.exited(); }, 20s))
      << engine.output();
  for (const auto &title : engine.titles())
    EXPECT_EQ(title.find("Seeding"), std::string::npos) << title;
  EXPECT_EQ(readFile(target), half) << "data on disk changed";
  quitWithQ(engine);
}

} // namespace
} // namespace mirel::test
