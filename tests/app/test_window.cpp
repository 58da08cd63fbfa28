// The main window on the offscreen platform: layout, the preparation's
// failures, dragging, closing once, the bar's scaling and the console keys.
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
  const std::array<Place, 13> places{{
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
  mirel::TDownload figures;
  figures.TotalLength = int64_t(3) << 31;
  w.SetGaugeTotal(figures.TotalLength);
  mirel::ApplyStatusTitle("x Up: 0.00 MB @ 0.00 kB/s Down: 1536.00 MB @ 1024.00 kB/s | Leeching: ",
                          figures, figures.TotalLength, w.ProgressState, w);
  EXPECT_EQ(Text(w.lblPercentage), "25.0%");
  EXPECT_EQ(Text(w.lbTranDes), "총 1536 MB / 6144 MB 를 받았습니다.");
}

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
