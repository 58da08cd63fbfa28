#include "platform/ConsoleWindow.h"

#include "../engine/StandinScript.h"
#include "waitfor.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <ctime>
#include <gtest/gtest.h>

namespace mirel {
namespace {

using namespace std::chrono_literals;

class ConsoleWindowTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "platform_console_gui_tests";
    static char *argv[] = {name, nullptr};
    static QApplication app(argc, argv);
  }
};

TEST_F(ConsoleWindowTest, ShowsTheScreenWithTheTitle) {
  test::StandinScript script("delay=200;q=ignore", "engine title");
  ConsoleProcess console({MIREL_STANDIN_PATH}, "ZUL! Initializing a.torrent");
  ASSERT_TRUE(console.started());
  ConsoleWindow window(console);
  EXPECT_EQ(window.windowTitle(), "ZUL! Initializing a.torrent");
  EXPECT_FALSE(window.isVisible());
  // Hidden, it still reads the console through the event loop.
  EXPECT_TRUE(test::waitFor(
      [&] {
        QApplication::processEvents();
        return window.windowTitle() == "engine title";
      },
      5s));
  window.showConsole();
  window.raiseConsole();
  EXPECT_TRUE(window.isVisible());
  const QImage shot = window.grab().toImage();
  shot.save(QString::fromStdString(std::string(MIREL_BINARY_DIR) + "/console-window.png"));
  // Something was drawn in the text colour on the black background.
  bool drawn = false;
  for (int y = 0; y < shot.height() && !drawn; ++y)
    for (int x = 0; x < shot.width() && !drawn; ++x)
      drawn = qGray(shot.pixel(x, y)) > 100;
  EXPECT_TRUE(drawn);
  window.hideConsole();
  EXPECT_FALSE(window.isVisible());
}

TEST_F(ConsoleWindowTest, StopsWatchingAHungUpConsole) {
  test::StandinScript script("exitafter=100");
  ConsoleProcess console({MIREL_STANDIN_PATH}, "t");
  ASSERT_TRUE(console.started());
  ConsoleWindow window(console);
  EXPECT_TRUE(test::waitFor(
      [&] {
        QApplication::processEvents();
        return console.hungUp();
      },
      5s));
  EXPECT_EQ(console.exitCode(), 0u);
  // A hung-up terminal reads as always ready: a watcher left on would spin
  // the event loop at full speed. Idle for 500 ms must cost little CPU.
  const std::clock_t before = std::clock();
  QEventLoop loop;
  QTimer::singleShot(500, &loop, &QEventLoop::quit);
  loop.exec();
  const double cpuSeconds = double(std::clock() - before) / CLOCKS_PER_SEC;
  EXPECT_LT(cpuSeconds, 0.2);
}

} // namespace
} // namespace mirel
