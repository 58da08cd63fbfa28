#include "engine/headless.h"
#include "platform/ConsoleWindow.h"

#include "StandinScript.h"
#include "waitfor.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace mirel {
namespace {

using namespace std::chrono_literals;

const std::string Standin = std::string("\"") + MIREL_STANDIN_PATH + "\"";

// The engine's console as a window: shown and hidden with the engine, and
// titled with the engine's title.
TEST(ConsoleVisibility, WindowFollowsShowHideAndTitle) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int argc = 1;
  char name[] = "engine_gui_tests";
  char *argv[] = {name, nullptr};
  QApplication app(argc, argv);

  test::StandinScript script("delay=300", "status title");
  HeadlessOptions options;
  options.QuitBound = std::chrono::milliseconds(500);
  ConsoleWindow *window = nullptr;
  options.MakeView = [&](ConsoleProcess &console) -> std::unique_ptr<ConsoleView> {
    auto w = std::make_unique<ConsoleWindow>(console);
    window = w.get();
    return w;
  };
  THeadlessDownloader engine("/tmp/m.torrent", Standin, "--display_interval 1", true, options);
  ASSERT_TRUE(engine.Running());
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->windowTitle().toStdString(), "ZUL! Initializing m.torrent");

  engine.ShowConsole();
  EXPECT_TRUE(window->isVisible());
  // The window follows the title through the event loop alone.
  EXPECT_TRUE(test::waitFor(
      [&] {
        QApplication::processEvents();
        return window->windowTitle() == "status title";
      },
      5s));
  window->grab().save(
      QString::fromStdString(std::string(MIREL_BINARY_DIR) + "/engine-console-shown.png"));
  engine.HideConsole();
  EXPECT_FALSE(window->isVisible());
}

} // namespace
} // namespace mirel
