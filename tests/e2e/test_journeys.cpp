// Whole download runs of the real downloader against a local download server.
#include "journey.h"

#include "waitfor.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>

namespace mirel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char *SetupName = "mirelS.setup.exe";
constexpr const char *TraceBegin = "CompleteDownloadCallback begin\\n";
constexpr const char *TraceOpened = "CompleteDownloadCallback::ShellExecute ret=42\\n";
constexpr const char *TraceEnd = "CompleteDownloadCallback end\\n";
// Centre of the window's one button ("취소" during a transfer).
constexpr int ButtonX = 293 + 76 / 2;
constexpr int ButtonY = 136 + 25 / 2;

bool hasData(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && st.st_blocks > 0;
}

// What every run that reached the setup program leaves behind.
void expectSetupOpened(DownloaderRun &run, const ServerStack &server) {
  ASSERT_TRUE(waitFor([&] { return run.setupRan(); }, 10s)) << run.log();
  // The copy next to the downloader is what ran, byte for byte the published file.
  EXPECT_NE(readFile(run.marker()).find("path=" + run.besideDownloader() + "\n"), std::string::npos)
      << readFile(run.marker());
  EXPECT_TRUE(readFile(run.besideDownloader()) == server.original());
  EXPECT_TRUE(readFile(run.target()) == server.original());
  EXPECT_TRUE(fs::exists(run.workFolder() + "Download.ini"));
  EXPECT_FALSE(fs::exists(run.engineFolder()));
  EXPECT_TRUE(run.leftoverEngines().empty());
  const std::string log = run.log();
  const auto begin = log.find(TraceBegin);
  const auto opened = log.find(TraceOpened);
  const auto end = log.find(TraceEnd);
  EXPECT_TRUE(begin != std::string::npos && opened != std::string::npos &&
              end != std::string::npos && begin < opened && opened < end)
      << log;
}

TEST(Journey, BitTorrentRunsTheSetupProgram) {
  ServerStack server({});
  Sandbox box;
  DownloaderRun run(box.file("user"), server.baseUrl(), box.file("runtime"));
  ASSERT_EQ(run.exitCode(90s), 0) << run.log();
  expectSetupOpened(run, server);
  // The setup file never came over HTTP: the path was BitTorrent.
  EXPECT_EQ(server.servedCount(SetupName), 0);
  EXPECT_EQ(server.servedCount("mirelS.setup.exe.torrent"), 1);
}

TEST(Journey, SecondDownloaderDuringATransferEndsAtOnce) {
  // A slow seeder keeps the first run busy for several seconds.
  ServerStack server({.setupBytes = 2 << 20, .seederUploadKiB = 512});
  Sandbox box;
  DownloaderRun first(box.file("first"), server.baseUrl(), box.file("runtime"));
  // The configuration is fetched after the instance lock is taken.
  ASSERT_TRUE(waitFor([&] { return server.servedCount("Download.ini") >= 1; }, 30s)) << first.log();

  DownloaderRun second(box.file("second"), server.baseUrl(), box.file("runtime"));
  EXPECT_EQ(second.exitCode(5s), 0) << second.log();
  EXPECT_TRUE(first.process().running()) << "the first run ended before the check meant anything";
  EXPECT_FALSE(fs::exists(second.workFolder()));
  EXPECT_EQ(server.servedCount("Download.ini"), 1);

  ASSERT_EQ(first.exitCode(90s), 0) << first.log();
  expectSetupOpened(first, server);
  EXPECT_FALSE(second.setupRan());
}

TEST(Journey, CancelDuringTheTransferOpensNothing) {
  ServerStack server({.seederUploadKiB = 128});
  VirtualDisplay display;
  Sandbox box;
  DownloaderRun run(box.file("user"), server.baseUrl(), box.file("runtime"),
                    {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display.name()}});
  ASSERT_TRUE(waitFor([&] { return hasData(run.target()); }, 60s)) << run.log();
  ASSERT_TRUE(clickInWindow(display.name(), run.pid(), ButtonX, ButtonY, box.file("xdotool.log")))
      << readFile(box.file("xdotool.log"));

  ASSERT_EQ(run.exitCode(30s), 0) << run.log();
  EXPECT_FALSE(waitFor([&] { return run.setupRan(); }, 1s));
  EXPECT_FALSE(fs::exists(run.besideDownloader()));
  EXPECT_FALSE(fs::exists(run.engineFolder()));
  EXPECT_TRUE(run.leftoverEngines().empty());
  // The partly downloaded file stays in the work folder.
  ASSERT_TRUE(fs::exists(run.target()));
  EXPECT_FALSE(readFile(run.target()) == server.original());
  const std::string log = run.log();
  EXPECT_NE(log.find(TraceBegin), std::string::npos) << log;
  EXPECT_NE(log.find(TraceEnd), std::string::npos) << log;
  EXPECT_EQ(log.find("ShellExecute"), std::string::npos) << log;
}

TEST(Journey, FallbackWithoutSeederFetchesVerifiesAndOpens) {
  ServerStack server({.waitTime = 2, .seeder = false});
  Sandbox box;
  DownloaderRun run(box.file("user"), server.baseUrl(), box.file("runtime"));
  ASSERT_EQ(run.exitCode(60s), 0) << run.log();
  expectSetupOpened(run, server);
  EXPECT_EQ(server.servedCount(SetupName), 1);
}

struct Tampering {
  const char *name;
  std::function<std::string(std::string)> change;
};

const std::array<Tampering, 2> tamperings{{
    {"one byte changed, same length",
     [](std::string bytes) {
       bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x20);
       return bytes;
     }},
    {"an error page in its place",
     [](std::string) { return std::string("<html><body>Service unavailable</body></html>\n"); }},
}};

TEST(Journey, FallbackFileThatDiffersFromTheMetainfoIsNeverOpened) {
  for (const Tampering &tampering : tamperings) {
    SCOPED_TRACE(tampering.name);
    ServerStack server({.waitTime = 1, .seeder = false});
    Sandbox box;
    {
      std::ofstream out(server.setupPath(), std::ios::binary | std::ios::trunc);
      out << tampering.change(server.original());
    }
    DownloaderRun run(box.file("user"), server.baseUrl(), box.file("runtime"));
    // Fetched, refused, and fetched again at the next tick.
    ASSERT_TRUE(waitFor([&] { return server.servedCount(SetupName) >= 2; }, 30s)) << run.log();
    EXPECT_TRUE(run.process().running());
    EXPECT_FALSE(run.setupRan());
    EXPECT_FALSE(fs::exists(run.besideDownloader()));
    EXPECT_EQ(run.log().find("ShellExecute"), std::string::npos);
    run.process().stop();
    EXPECT_TRUE(run.leftoverEngines().empty());
    EXPECT_FALSE(run.setupRan());
  }
}

} // namespace
} // namespace mirel::test
