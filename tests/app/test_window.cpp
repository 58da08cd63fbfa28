// The main window on the offscreen platform: layout, dragging, closing once,
// and the download run's states against real HTTP servers on loopback.
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

const char *const ServerDownText =
    "서버에 접속할 수 없습니다.\r\n프로그램을 종료하고 잠시 후에 다시 실행하세요.";
const char *const BadMetainfoText =
    "Torrent파일이 정상적이지 않습니다.\r\n잠시 후에 다시 실행하세요.";

std::string DeadServerUrl() {
  return "http://127.0.0.1:" + std::to_string(freePort()) + "/";
}

// Processes events until the predicate holds (or the deadline passes).
bool Until(const std::function<bool()> &predicate, std::chrono::milliseconds deadline = 20s) {
  return QTest::qWaitFor(predicate, static_cast<int>(deadline.count()));
}

std::string Text(QLabel *label) {
  return label->text().toStdString();
}

void WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace

TEST(Window, LayoutMatchesTheTable) {
  RunFolders run;
  TfMain w({DeadServerUrl(), run.Own, false});
  EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(w.size(), QSize(379, 170));
  EXPECT_EQ(w.font().pixelSize(), 12);
  EXPECT_EQ(w.font().families(), QStringList({"Gulim", "NanumGothic"}));

  struct Place {
    QWidget *widget;
    QPoint pos;
    QSize size; // empty: sized to its text
    const char *text;
  };
  const std::array<Place, 15> places{{
      {w.imgBK, {0, 0}, {379, 170}, nullptr},
      {w.imgAppIcon, {6, 6}, {17, 17}, nullptr},
      {w.lblCaption, {27, 9}, {}, "Mirel(s) 다운로드"},
      {w.lbTranDes, {29, 52}, {}, "파일 전송 작업을 준비중입니다. 잠시만 기다려 주세요."},
      {w.Gauge1, {29, 85}, {288, 11}, nullptr},
      {w.lblPercentage, {322, 84}, {}, "0%"},
      {w.Label9, {30, 105}, {}, "전송속도:"},
      {w.lbSpeed, {88, 105}, {}, "0.00"},
      {w.Label6, {193, 105}, {}, "남은시간:"},
      {w.lbRemain, {250, 105}, {}, "00:00:00"},
      {w.btnCancel, {293, 136}, {76, 25}, nullptr},
      {w.Label7, {200, 194}, {}, "받음 : "},
      {w.lbDown, {239, 194}, {}, "0.00"},
      {w.Label7, {200, 194}, {}, nullptr},
      {w.lbDown, {239, 194}, {}, nullptr},
  }};
  for (const Place &p : places) {
    const std::string name = p.widget->objectName().toStdString();
    EXPECT_EQ(p.widget->pos(), p.pos) << name;
    if (!p.size.isEmpty()) {
      EXPECT_EQ(p.widget->size(), p.size) << name;
    }
    if (p.text != nullptr) {
      auto *label = qobject_cast<QLabel *>(p.widget);
      ASSERT_NE(label, nullptr) << name;
      EXPECT_EQ(Text(label), p.text) << name;
      // Sized to its text, never cut.
      EXPECT_GE(label->width(), label->sizeHint().width()) << name;
    }
  }
  // Label7 and lbDown lie below the window's 170 pixels.
  EXPECT_GE(w.Label7->y(), w.height());
  EXPECT_GE(w.lbDown->y(), w.height());
  EXPECT_EQ(w.btnCancel->text().toStdString(), "취소");
  EXPECT_EQ(w.btnCancel->Tag, 0);
  EXPECT_EQ(w.Gauge1->minimum(), 0);
  EXPECT_EQ(w.Gauge1->maximum(), 100);
  EXPECT_EQ(w.Gauge1->value(), 0);
  EXPECT_EQ(w.timerUpdateMonitor->interval(), 2000);
  EXPECT_FALSE(w.timerUpdateMonitor->isActive());
  EXPECT_EQ(w.timerAutoExit->interval(), 100);
  EXPECT_FALSE(w.timerAutoExit->isActive());
  EXPECT_EQ(w.EngineFolderName, "mirelS_TXDownTemp");
  EXPECT_EQ(w.EngineExeName, "ZULdnheadless.exe");
  EXPECT_EQ(w.MetainfoFileName, "mirelS.setup.exe.torrent");
  // No server configuration: the default waiting time.
  EXPECT_EQ(w.WaitTimeSeconds, 10);
  EXPECT_FALSE(w.ActivatedOnce);
}

TEST(Window, WaitTimeComesFromTheServer) {
  RunFolders run;
  WriteFile(run.Server + "Download.ini", "[Connection]\r\nWaitTime=0x1E\r\n");
  NginxServer server(run.Server);
  TfMain w({server.url(), run.Own, false});
  EXPECT_EQ(w.WaitTimeSeconds, 30);
  EXPECT_TRUE(fs::exists(run.Work() + "Download.ini"));
}

// Server unreachable: the box, then the window stays with "종료"; it can be
// dragged by its background only; the button closes it once.
TEST(Window, ServerUnreachableThenDragAndCloseOnce) {
  RunFolders run;
  MessageBoxAnswerer answerer;
  TfMain w({DeadServerUrl(), run.Own, false});
  w.show();
  ASSERT_TRUE(Until([&] { return w.btnCancel->text() == "종료"; }));
  ASSERT_EQ(answerer.Seen.size(), 1u);
  EXPECT_EQ(answerer.Seen[0].Text, ServerDownText);
  EXPECT_EQ(answerer.Seen[0].Caption, "경고");
  EXPECT_EQ(answerer.Seen[0].Icon, QMessageBox::Critical);
  EXPECT_EQ(answerer.Seen[0].OkText, "확인");
  EXPECT_EQ(Text(w.lbTranDes), ServerDownText);
  EXPECT_EQ(w.Gauge1->value(), 0);
  EXPECT_FALSE(w.timerUpdateMonitor->isActive());
  EXPECT_FALSE(w.EndRequested());
  SaveScreenshot(w, "server-unreachable");

  // Later activations do nothing.
  w.FormActivate();
  QTest::qWait(50);
  EXPECT_EQ(answerer.Seen.size(), 1u);

  // Dragging by the background moves the window; a press on a label does not.
  const QPoint start = w.pos();
  QTest::mousePress(w.imgBK, Qt::LeftButton, {}, QPoint(200, 150));
  QTest::mouseMove(w.imgBK, QPoint(240, 170));
  QTest::mouseRelease(w.imgBK, Qt::LeftButton, {}, QPoint(240, 170));
  EXPECT_EQ(w.pos(), start + QPoint(40, 20));
  const QPoint moved = w.pos();
  QTest::mousePress(w.lbTranDes, Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseMove(w.lbTranDes, QPoint(60, 40));
  QTest::mouseRelease(w.lbTranDes, Qt::LeftButton, {}, QPoint(60, 40));
  QTest::mousePress(w.btnCancel, Qt::RightButton, {}, QPoint(5, 5));
  QTest::mouseMove(w.btnCancel, QPoint(60, 40));
  QTest::mouseRelease(w.btnCancel, Qt::RightButton, {}, QPoint(60, 40));
  EXPECT_EQ(w.pos(), moved);

  // A double click, and the auto-exit timer after it, close once.
  QTest::mouseClick(w.btnCancel, Qt::LeftButton);
  QTest::mouseClick(w.btnCancel, Qt::LeftButton);
  w.timerAutoExitTimer();
  EXPECT_EQ(w.CloseCount(), 1);
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(fs::exists(run.Engine()));
  EXPECT_TRUE(fs::exists(run.Work()));
}

// Every failure of the preparation that ends the downloader.
TEST(Window, PreparationFailuresEndTheDownloader) {
  struct Case {
    const char *what;
    std::string metainfo; // served as the metainfo file
    const char *blockRow; // a bundle file that cannot be written
    const char *boxText;
    const char *statusText; // nullptr: unchanged
  };
  const std::string announce = "http://127.0.0.1:1/announce";
  const std::array<Case, 9> cases{{
      {"not bencode", "<html>captive portal</html>", nullptr, BadMetainfoText, nullptr},
      {"name with slash", MakeMetainfo("../evil", "x", announce), nullptr, BadMetainfoText,
       nullptr},
      {"name dot dot", MakeMetainfo("..", "x", announce), nullptr, BadMetainfoText, nullptr},
      {"name dot", MakeMetainfo(".", "x", announce), nullptr, BadMetainfoText, nullptr},
      {"empty name", MakeMetainfo("", "x", announce), nullptr, BadMetainfoText, nullptr},
      {"backslash", MakeMetainfo("a\\b.exe", "x", announce), nullptr, BadMetainfoText, nullptr},
      {"control byte", MakeMetainfo(std::string("a\x01") + "b", "x", announce), nullptr,
       BadMetainfoText, nullptr},
      {"nested path", MakeMetainfo("sub/setup.exe", "x", announce), nullptr, BadMetainfoText,
       nullptr},
      {"bundle not writable", MakeMetainfo("setup.exe", "x", announce), "_sre.pyd",
       "선택한 경로에 파일을 받을 수 없습니다.\r\n다시 실행한 후 다른 경로를 지정해 주세요.",
       "선택한 경로에 파일을 받을 수 없습니다."},
  }};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    RunFolders run;
    WriteFile(run.Server + "mirelS.setup.exe.torrent", c.metainfo);
    if (c.blockRow != nullptr)
      fs::create_directories(run.Engine() + c.blockRow); // a folder in the file's place
    NginxServer server(run.Server);
    MessageBoxAnswerer answerer;
    TfMain w({server.url(), run.Own, false});
    w.show();
    ASSERT_TRUE(Until([&] { return w.EndRequested(); }));
    ASSERT_EQ(answerer.Seen.size(), 1u);
    EXPECT_EQ(answerer.Seen[0].Text, c.boxText);
    EXPECT_EQ(answerer.Seen[0].Caption, "경고");
    EXPECT_EQ(answerer.Seen[0].Icon, QMessageBox::Critical);
    if (c.statusText != nullptr) {
      EXPECT_EQ(Text(w.lbTranDes), c.statusText);
    }
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.timerUpdateMonitor->isActive());
    EXPECT_EQ(w.CloseCount(), 0);
    for (const auto &slot : w.Engines.Slots)
      EXPECT_FALSE(slot.Active);
    // Nothing lands outside the work folder.
    EXPECT_TRUE(fs::is_empty(run.Own));
    EXPECT_FALSE(fs::exists(run.Temp + "evil"));
    if (c.blockRow != nullptr) {
      EXPECT_TRUE(fs::exists(run.Engine() + "_socket.pyd"));
      EXPECT_FALSE(fs::exists(run.Engine() + "_WConio.pyd"));
    }
  }
}

namespace {

// Captures standard error (the trace lines) for one scope.
class StderrCapture {
public:
  explicit StderrCapture(const std::string &path) : path_(path) {
    fflush(stderr);
    saved_ = dup(2);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    close(fd);
  }
  ~StderrCapture() { Restore(); }
  std::string Restore() {
    if (saved_ >= 0) {
      fflush(stderr);
      dup2(saved_, 2);
      close(saved_);
      saved_ = -1;
    }
    return readFile(path_);
  }

private:
  std::string path_;
  int saved_ = -1;
};

// A published product: metainfo, setup file and Download.ini on nginx.
struct Published {
  Published(RunFolders &run, const std::string &setup, const std::string &served,
            const std::string &waitTime)
      : Server(run.Server) {
    fs::create_directories(run.Server + "files");
    WriteFile(run.Server + "mirelS.setup.exe.torrent",
              MakeMetainfo("setup.sh", setup, "http://127.0.0.1:1/announce", 32768));
    WriteFile(run.Server + "files/setup.sh", served);
    WriteFile(run.Server + "Download.ini",
              "[Connection]\r\nWaitTime=" + waitTime +
                  "\r\n[Download]\r\nMIRELS=" + Server.url("files/setup.sh") + "\r\n");
  }
  NginxServer Server;
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

  mirel::TSlotFigures figures;
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

// Lengths that do not fit the bar's 32-bit range are scaled.
TEST(Window, BarScalesLargeAndEmptyTotals) {
  RunFolders run;
  TfMain w({DeadServerUrl(), run.Own, false});
  struct Case {
    int64_t total;
    int64_t at;
    int maximum;
    int value;
  };
  const std::array<Case, 5> cases{{
      {0, 0, 1, 0},
      {1000, 500, 1000, 500},
      {int64_t(1) << 31, int64_t(1) << 30, 1 << 30, 1 << 29},
      {int64_t(3) << 31, int64_t(3) << 30, int(3u << 29), int(3u << 28)},
      {int64_t(1) << 40, int64_t(1) << 41, 1 << 30, 1 << 30},
  }};
  for (const Case &c : cases) {
    w.SetGaugeTotal(c.total);
    EXPECT_EQ(w.Gauge1->maximum(), c.maximum) << c.total;
    const int64_t shown = w.SetProgressBytes(c.at);
    EXPECT_EQ(shown, std::min(c.at, c.total)) << c.total;
    EXPECT_EQ(w.Gauge1->value(), c.value) << c.total;
  }
  // The percentage follows the bytes, not the scaled bar.
  mirel::TSlotFigures figures;
  figures.TotalLength = int64_t(3) << 31;
  w.SetGaugeTotal(figures.TotalLength);
  mirel::ApplyStatusTitle("x Up: 0.00 MB @ 0.00 kB/s Down: 1536.00 MB @ 1024.00 kB/s | Leeching: ",
                          figures, figures.TotalLength, w.ProgressState, w);
  EXPECT_EQ(Text(w.lblPercentage), "25.0%");
  EXPECT_EQ(Text(w.lbTranDes), "총 1536 MB / 6144 MB 를 받았습니다.");
}

namespace {

// Puts a program of our choosing into a free slot as if it were the engine,
// after stopping whatever engine the preparation started.
mirel::TDownload &HostProgram(TfMain &w, const std::string &program, const std::string &args) {
  w.Engines.ReleaseSlot(-1);
  mirel::HeadlessOptions options;
  options.QuitBound = 300ms;
  options.MakeView = w.EngineHost.ConsoleViews();
  mirel::TDownload &slot = w.Engines.Slots[1];
  slot = mirel::TDownload{};
  slot.Engine = std::make_unique<mirel::THeadlessDownloader>(w.MetainfoPath, "\"" + program + "\"",
                                                             args, true, std::move(options));
  slot.Active = slot.Engine->Running();
  slot.MetainfoFile = w.MetainfoPath;
  slot.TotalLength = w.Metainfo->TotalLength;
  return slot;
}

} // namespace

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
TEST(Window, ConsoleKeys) {
  RunFolders run;
  const std::string setup = SetupScript(run.Box.file("setup-ran"));
  Published pub(run, setup, setup, "600");
  MessageBoxAnswerer answerer;
  TfMain w({pub.Server.url(), run.Own, false});
  w.show();
  ASSERT_TRUE(Until([&] { return w.timerUpdateMonitor->isActive(); }));
  mirel::TDownload &slot = HostProgram(w, "/bin/cat", "");
  ASSERT_TRUE(slot.Active);
  const Qt::KeyboardModifiers all = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
  struct Case {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    bool visibleAfter;
  };
  const std::array<Case, 7> cases{{
      {Qt::Key_V, Qt::ControlModifier | Qt::AltModifier, false},
      {Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier, false},
      {Qt::Key_V, Qt::AltModifier | Qt::ShiftModifier, false},
      {Qt::Key_V, all, true},
      {Qt::Key_X, all, true},
      {Qt::Key_H, Qt::ControlModifier | Qt::AltModifier, true},
      {Qt::Key_H, all, false},
  }};
  for (const Case &c : cases) {
    // The focused button passes keys to the window's handler first.
    QTest::keyClick(w.btnCancel, c.key, c.mods);
    EXPECT_EQ(slot.Engine->ConsoleVisible(), c.visibleAfter) << c.key << " " << c.mods;
  }
  QTest::keyClick(&w, Qt::Key_V, all);
  EXPECT_TRUE(slot.Engine->ConsoleVisible());
  QTest::keyClick(&w, Qt::Key_H, all);
  EXPECT_FALSE(slot.Engine->ConsoleVisible());

  w.ProgressState = 2;
  QTest::keyClick(w.btnCancel, Qt::Key_V, all);
  EXPECT_FALSE(slot.Engine->ConsoleVisible());
  QTest::mouseClick(w.btnCancel, Qt::LeftButton);
  EXPECT_EQ(w.CloseCount(), 1);
  EXPECT_EQ(slot.Engine, nullptr);
}

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

} // namespace

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

namespace {

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
