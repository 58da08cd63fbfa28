// Whole download runs in the window against real servers and peers on
// loopback: the HTTP fallback, cancel, the BitTorrent journey, and the
// engine start's failures.
#include "windowtest.h"

#include "app/Bundle.h"
#include "app/Identity.h"
#include "metainfo/Streams.h"
#include "metainfo/TorrentFile.h"
#include "platform/URLDownloadToFile.h"

#include "freeport.h"
#include "httpservers.h"
#include "waitfor.h"

#include <QApplication>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace mirel::test;
using mirel::TfMain;

namespace {

// A swarm on loopback: opentracker with the metainfo's hash whitelisted and
// an aria2c seeder held to a fixed upload rate.
class Swarm {
public:
  Swarm(RunFolders &run, const std::string &metainfo, const std::string &content, int trackerPort)
      : run_(run) {
    mirel::TTorrentFile meta;
    mirel::TMemoryStream stream(metainfo);
    EXPECT_TRUE(meta.LoadFromStream(stream));
    const std::string dir = run.Box.path().string() + "/swarm/";
    fs::create_directories(dir + "seed");
    WriteFile(dir + "whitelist", meta.InfoHashHex + "\n");
    WriteFile(dir + "seed/" + meta.Name, content);
    WriteFile(dir + "m.torrent", metainfo);
    const std::string port = std::to_string(trackerPort);
    tracker_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"opentracker", "-i", "127.0.0.1", "-p", port, "-P", port, "-w",
                                 dir + "whitelist"},
        dir + "tracker.log");
    // The whitelist is read a moment after the tracker listens: wait until a
    // (not "stopped") announce is accepted before the seeder starts.
    std::string escaped;
    for (size_t i = 0; i < meta.InfoHashHex.size(); i += 2)
      escaped += "%" + meta.InfoHashHex.substr(i, 2);
    const std::string announce = "http://127.0.0.1:" + port + "/announce?info_hash=" + escaped +
                                 "&peer_id=-TEST-00000000000000&port=1&uploaded=0&downloaded=0" +
                                 "&left=1&compact=1";
    Ready = waitFor(
        [&] {
          return mirel::URLDownloadToFile(announce, dir + "announce", nullptr) == 0 &&
                 readFile(dir + "announce").find("interval") != std::string::npos;
        },
        10s, 50ms);
    if (!Ready)
      ADD_FAILURE() << "the tracker never accepted the announce";
    seeder_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{
            "aria2c", "-d", dir + "seed", "--seed-ratio=0.0", "--bt-seed-unverified=true",
            "--enable-dht=false", "--enable-dht6=false", "--bt-enable-lpd=false",
            "--enable-peer-exchange=false", "--listen-port=" + std::to_string(freePort()),
            "--max-overall-upload-limit=1M", "--summary-interval=0", dir + "m.torrent"},
        dir + "seed.log");
  }
  bool Ready = false;

private:
  RunFolders &run_;
  std::unique_ptr<ChildProcess> tracker_;
  std::unique_ptr<ChildProcess> seeder_;
};

// A small tmpfs mounted on a folder for one test (needs root; unmounted in
// the destructor).
class Tmpfs {
public:
  Tmpfs(const std::string &dir, const std::string &options) : dir_(dir) {
    fs::create_directories(dir);
    const std::string cmd = "mount -t tmpfs -o " + options + " tmpfs '" + dir + "' 2>/dev/null";
    Mounted = std::system(cmd.c_str()) == 0;
  }
  ~Tmpfs() {
    if (Mounted)
      (void)!std::system(("umount -l '" + dir_ + "'").c_str());
  }
  bool Mounted = false;

private:
  std::string dir_;
};

} // namespace

// No peers: after the waiting time the file comes over HTTP, is checked,
// copied next to the downloader (replacing an older copy) and run.
TEST(Window, FallbackCompletesCopiesAndOpensTheSetup) {
  RunFolders run;
  const std::string mark = run.Box.file("setup-ran");
  const std::string setup = SetupScript(mark, std::string(100000, 'p'));
  Published pub(run, setup, setup, "0");
  WriteFile(run.Own + "setup.sh", "older setup");
  MessageBoxAnswerer answerer;
  StderrCapture err(run.Box.file("stderr"));
  TfMain w({pub.Server.url(), run.Own, false});
  bool shot = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!shot && w.btnCancel->Tag == 1 && w.isVisible()) {
      shot = true;
      SaveScreenshot(w, "complete");
      EXPECT_EQ(Text(w.lbTranDes), "전송이 완료되었습니다. 설치 시작 버튼을 누르세요.");
      EXPECT_EQ(w.btnCancel->text().toStdString(), "종료");
      EXPECT_EQ(Text(w.lblPercentage), "100%");
      EXPECT_EQ(w.Gauge1->value(), w.Gauge1->maximum());
    }
  });
  watch.start(1);
  w.show();
  ASSERT_TRUE(Until([&] { return w.CloseCount() == 1; }, 30s));
  const std::string trace = err.Restore();
  EXPECT_TRUE(shot);
  EXPECT_EQ(w.ProgressState, 2);
  EXPECT_EQ(readFile(run.Own + "setup.sh"), setup);
  EXPECT_TRUE(waitFor([&] { return fs::exists(mark); }, 10s));
  EXPECT_FALSE(fs::exists(run.Engine()));
  EXPECT_EQ(readFile(run.Work() + "setup.sh"), setup);
  EXPECT_TRUE(fs::exists(run.Work() + "Download.ini"));
  EXPECT_NE(trace.find("CompleteDownloadCallback begin\\n\n"), std::string::npos);
  EXPECT_NE(trace.find("CompleteDownloadCallback::ShellExecute ret=42\\n\n"), std::string::npos);
  EXPECT_NE(trace.find("CompleteDownloadCallback end\\n\n"), std::string::npos);
  // The only box possible is the engine start failure of a build without one.
  for (const SeenBox &box : answerer.Seen) {
    EXPECT_EQ(box.Text, "ZULdnheadless.exe 를 실행하는데 오류가 발생했습니다.");
    EXPECT_EQ(box.Caption, "오류");
  }
}

// The server's file is not the one the metainfo describes: it is refused
// at every tick and never opened.
TEST(Window, FallbackFileThatDiffersIsNeverOpened) {
  RunFolders run;
  const std::string mark = run.Box.file("setup-ran");
  const std::string setup = SetupScript(mark, std::string(50000, 'p'));
  std::string portal = setup;
  portal[portal.size() - 10] = 'X';
  Published pub(run, setup, portal, "0");
  MessageBoxAnswerer answerer;
  TfMain w({pub.Server.url(), run.Own, false});
  w.show();
  ASSERT_TRUE(Until([&] { return w.FallbackAttempts() >= 2; }, 20s));
  EXPECT_EQ(w.btnCancel->Tag, 0);
  EXPECT_FALSE(fs::exists(run.Work() + "setup.sh"));
  QTest::mouseClick(w.btnCancel, Qt::LeftButton);
  EXPECT_EQ(w.CloseCount(), 1);
  EXPECT_TRUE(fs::is_empty(run.Own));
  EXPECT_FALSE(fs::exists(mark));
}

// Transferring: the bar spans the setup file; the worked example's title
// shows as listed; cancel stops everything and opens nothing.
TEST(Window, TransferringThenCancel) {
  RunFolders run;
  const std::string mark = run.Box.file("setup-ran");
  std::string setup = SetupScript(mark);
  setup.resize(10485760, '#');
  Published pub(run, setup, setup, "600");
  MessageBoxAnswerer answerer;
  TfMain w({pub.Server.url(), run.Own, false});
  SaveScreenshot(w, "preparing");
  w.show();
  ASSERT_TRUE(Until([&] { return w.timerUpdateMonitor->isActive(); }));
  EXPECT_EQ(Text(w.lbTranDes), "서버에 접속중입니다. 잠시만 기다려 주세요.");
  EXPECT_EQ(w.Gauge1->maximum(), 10485760);
  EXPECT_EQ(w.Gauge1->value(), 0);
  EXPECT_EQ(w.SetupFileName, "setup.sh");
  EXPECT_EQ(w.TargetPath, run.Work() + "setup.sh");
  for (const mirel::TBundleRow &row : mirel::BundleTable)
    EXPECT_TRUE(fs::exists(run.Engine() + row.FileName)) << row.FileName;

  mirel::TDownload figures;
  figures.TotalLength = 10485760;
  mirel::ApplyStatusTitle(
      "12% Up: 0.00 MB @ 0.00 kB/s Down: 1.50 MB @ 512.00 kB/s | Leeching: 12.0%", figures,
      10485760, w.ProgressState, w);
  EXPECT_EQ(Text(w.lbTranDes), "총 1 MB / 10 MB 를 받았습니다.");
  EXPECT_EQ(Text(w.lblPercentage), "15.0%");
  EXPECT_EQ(Text(w.lbRemain), "17 초");
  EXPECT_EQ(Text(w.lbSpeed), "512.00 KB/S");
  EXPECT_EQ(w.Gauge1->value(), 1572864);
  SaveScreenshot(w, "transferring-worked-example");

  QTest::mouseClick(w.btnCancel, Qt::LeftButton);
  EXPECT_EQ(w.CloseCount(), 1);
  EXPECT_FALSE(w.timerUpdateMonitor->isActive());
  EXPECT_FALSE(fs::exists(run.Engine()));
  EXPECT_TRUE(fs::is_empty(run.Own));
  for (const auto &slot : w.Engines.Slots)
    EXPECT_EQ(slot.Engine, nullptr);
}

// An engine that ends by itself before any progress no longer strands the
// run: the monitor goes on and the fallback follows after the waiting time.
TEST(Window, EngineExitBeforeProgressStillFallsBack) {
  RunFolders run;
  const std::string mark = run.Box.file("setup-ran");
  const std::string setup = SetupScript(mark);
  Published pub(run, setup, setup, "3");
  MessageBoxAnswerer answerer;
  TfMain w({pub.Server.url(), run.Own, false});
  w.show();
  ASSERT_TRUE(Until([&] { return w.timerUpdateMonitor->isActive(); }));
  mirel::TDownload &slot = HostProgram(w, "/bin/sh", "-c \"exit 3\"");
  ASSERT_TRUE(slot.Active);
  // The first tick finds the engine gone and releases its slot...
  ASSERT_TRUE(Until([&] { return slot.Exited; }, 10s));
  EXPECT_EQ(w.ProgressState, 0);
  // ...and the monitor keeps going into the fallback.
  ASSERT_TRUE(Until([&] { return w.CloseCount() == 1; }, 20s));
  EXPECT_EQ(w.ProgressState, 2);
  EXPECT_EQ(readFile(run.Own + "setup.sh"), setup);
  EXPECT_TRUE(waitFor([&] { return fs::exists(mark); }, 10s));
}

// Ctrl+Alt+Shift+V shows the engine console, +H hides it; with a modifier
// missing, or once the fallback was chosen, the keys do nothing.
// The BitTorrent journey with the real engine: progress from the engine's
// title, "Seeding", the completion display, then the setup program runs.
TEST(Window, BitTorrentJourneyWithARealSeeder) {
  RunFolders run;
  const std::string mark = run.Box.file("setup-ran");
  std::string setup = SetupScript(mark);
  setup.resize(5 * 1048576, '#');
  const int trackerPort = freePort();
  const std::string metainfo = MakeMetainfo(
      "setup.sh", setup, "http://127.0.0.1:" + std::to_string(trackerPort) + "/announce", 65536);
  WriteFile(run.Server + "mirelS.setup.exe.torrent", metainfo);
  WriteFile(run.Server + "Download.ini", "[Connection]\r\nWaitTime=600\r\n");
  NginxServer server(run.Server);
  Swarm swarm(run, metainfo, setup, trackerPort);
  ASSERT_TRUE(swarm.Ready);

  MessageBoxAnswerer answerer;
  TfMain w({server.url(), run.Own, false});
  int enginePid = -1;
  bool shot = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (enginePid < 0 && w.Engines.Slots[0].Engine)
      enginePid = w.Engines.Slots[0].Engine->ProcessId();
    if (!shot && w.ProgressState == 1 && w.btnCancel->Tag == 0) {
      shot = true;
      SaveScreenshot(w, "transferring");
    }
  });
  watch.start(5);
  w.show();
  ASSERT_TRUE(Until([&] { return w.CloseCount() == 1; }, 60s));
  EXPECT_TRUE(answerer.Seen.empty());
  EXPECT_TRUE(shot);
  EXPECT_EQ(w.ProgressState, 1);
  EXPECT_EQ(w.FallbackAttempts(), 0);
  EXPECT_EQ(w.btnCancel->Tag, 1);
  EXPECT_EQ(readFile(run.Own + "setup.sh"), setup);
  EXPECT_TRUE(waitFor([&] { return fs::exists(mark); }, 10s));
  EXPECT_FALSE(fs::exists(run.Engine()));
  EXPECT_TRUE(fs::exists(run.Work() + "Download.ini"));
  // No engine is left behind.
  ASSERT_GT(enginePid, 0);
  EXPECT_NE(kill(enginePid, 0), 0);
}

// The two failures of the engine start: too little disk space ends the
// downloader; an engine that cannot run leaves the run to the fallback.
TEST(Window, DiskFullEndsAndEngineThatCannotRunFallsBack) {
  struct Case {
    const char *what;
    const char *mountOptions;
    size_t setupSize;
    const char *boxText;
    const char *caption;
    bool ends;
  };
  const std::array<Case, 2> cases{{
      {"disk full", "size=16m", 24 * 1048576, "디스크 공간이 부족합니다. 프로그램을 종료합니다.",
       "경고", true},
      {"engine cannot run", "size=64m,noexec", 4096,
       "ZULdnheadless.exe 를 실행하는데 오류가 발생했습니다.", "오류", false},
  }};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    RunFolders run;
    Tmpfs tmpfs(run.Temp, c.mountOptions);
    if (!tmpfs.Mounted)
      GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::string setup = SetupScript(run.Box.file("setup-ran"), std::string(c.setupSize, '#'));
    Published pub(run, setup, setup, "0");
    MessageBoxAnswerer answerer;
    TfMain w({pub.Server.url(), run.Own, false});
    w.show();
    if (c.ends) {
      ASSERT_TRUE(Until([&] { return w.EndRequested(); }));
      EXPECT_FALSE(w.timerUpdateMonitor->isActive());
    } else {
      ASSERT_TRUE(Until([&] { return w.CloseCount() == 1; }, 20s));
      EXPECT_EQ(w.ProgressState, 2);
      EXPECT_EQ(readFile(run.Own + "setup.sh"), setup);
    }
    ASSERT_GE(answerer.Seen.size(), 1u);
    EXPECT_EQ(answerer.Seen[0].Text, c.boxText);
    EXPECT_EQ(answerer.Seen[0].Caption, c.caption);
    EXPECT_EQ(answerer.Seen[0].Icon, QMessageBox::Critical);
    for (const auto &slot : w.Engines.Slots)
      EXPECT_EQ(slot.Engine, nullptr);
  }
}

// Closing while the HTTP fallback is fetching: the fetch aborts, nothing is
// opened, and the monitor does not start again.
TEST(Window, CloseDuringTheFallbackFetch) {
  RunFolders run;
  const std::string mark = run.Box.file("setup-ran");
  const std::string setup = SetupScript(mark);
  Published pub(run, setup, setup, "0");
  FaultServer slow;
  WriteFile(run.Server + "Download.ini",
            "[Connection]\r\nWaitTime=0\r\n[Download]\r\nmirelS=" + slow.url("slow") + "\r\n");
  MessageBoxAnswerer answerer;
  TfMain w({pub.Server.url(), run.Own, false});
  // The click comes from inside the fetch's message pumping.
  QTimer clicker;
  QObject::connect(&clicker, &QTimer::timeout, [&] {
    if (w.FallbackAttempts() == 1 && w.CloseCount() == 0 &&
        Text(w.lbTranDes) == "서버에서 파일을 다운받고 있습니다.")
      QTest::mouseClick(w.btnCancel, Qt::LeftButton);
  });
  clicker.start(50);
  const auto t0 = std::chrono::steady_clock::now();
  w.show();
  // The predicate is read between event batches, so by then the tick that
  // ran the fetch has returned.
  ASSERT_TRUE(Until([&] { return w.CloseCount() == 1 && !w.isVisible(); }, 30s));
  // The fetch ended long before the slow answer would have (1000 s).
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 20s);
  EXPECT_EQ(w.FallbackAttempts(), 1);
  EXPECT_FALSE(w.timerUpdateMonitor->isActive());
  EXPECT_TRUE(w.Closing);
  EXPECT_EQ(w.btnCancel->Tag, 0);
  EXPECT_TRUE(fs::is_empty(run.Own));
  EXPECT_FALSE(fs::exists(mark));
  EXPECT_FALSE(fs::exists(run.Engine()));
}

// "-console" starts the engine with its console shown; without it the
// console stays hidden.
TEST(Window, ConsoleSwitchDecidesTheEngineConsole) {
  for (const bool console : {false, true}) {
    SCOPED_TRACE(console);
    RunFolders run;
    const std::string setup = SetupScript(run.Box.file("setup-ran"));
    Published pub(run, setup, setup, "600");
    MessageBoxAnswerer answerer;
    TfMain w({pub.Server.url(), run.Own, console});
    w.show();
    ASSERT_TRUE(Until([&] { return w.timerUpdateMonitor->isActive(); }));
    ASSERT_TRUE(answerer.Seen.empty());
    const mirel::TDownload &slot = w.Engines.Slots[0];
    ASSERT_TRUE(slot.Active);
    ASSERT_TRUE(slot.Engine && slot.Engine->Running());
    EXPECT_EQ(slot.Engine->ConsoleVisible(), console);
    EXPECT_EQ(slot.Engine->CommandLine(),
              "\"" + run.Engine() + "ZULdnheadless.exe\" --responsefile \"" + run.Engine() +
                  "mirelS.setup.exe.torrent\" --saveas \"" + run.Work() +
                  "setup.sh\" --max_uploads 10 --min_uploads 3 --display_interval 1");
    QTest::mouseClick(w.btnCancel, Qt::LeftButton);
    EXPECT_EQ(w.CloseCount(), 1);
  }
}
