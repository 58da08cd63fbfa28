#pragma once

#include "ConsoleProcess.h"

#include <QWidget>
#include <memory>

class QSocketNotifier;

namespace mirel {

// A small window that shows a console's screen, with the console's title as
// window title. It watches the terminal, so the program's output is read as
// it comes even while the window is hidden.
class ConsoleWindow : public QWidget, public ConsoleView {
public:
  explicit ConsoleWindow(ConsoleProcess &console);
  ~ConsoleWindow() override;

  void showConsole() override;
  void hideConsole() override;
  void raiseConsole() override;

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  void readConsole();
  void refresh();

  ConsoleProcess &console_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::vector<std::string> lines_;
};

// For THeadlessDownloader: makes a ConsoleWindow for each console.
ConsoleViewFactory consoleWindowFactory();

} // namespace mirel
