#include "ConsoleWindow.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QSocketNotifier>

namespace mirel {

ConsoleWindow::ConsoleWindow(ConsoleProcess &console) : console_(console) {
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::black);
  pal.setColor(QPalette::WindowText, Qt::lightGray);
  setPalette(pal);
  QFontMetrics fm(font());
  resize(fm.horizontalAdvance(QLatin1Char('M')) * console_.cols() + 8,
         fm.lineSpacing() * console_.rows() + 8);
  if (console_.fd() >= 0) {
    notifier_ = std::make_unique<QSocketNotifier>(console_.fd(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readConsole(); });
  }
  console_.setOnChange([this] { refresh(); });
  refresh();
}

ConsoleWindow::~ConsoleWindow() {
  console_.setOnChange({});
}

void ConsoleWindow::readConsole() {
  console_.drain();
  // A hung-up terminal reads as always ready: stop watching, or we would spin.
  if (console_.hungUp() && notifier_)
    notifier_->setEnabled(false);
}

void ConsoleWindow::refresh() {
  setWindowTitle(QString::fromUtf8(console_.currentTitle()));
  if (isVisible()) {
    lines_ = console_.screen();
    update();
  }
}

void ConsoleWindow::showConsole() {
  console_.drain();
  show();
  refresh();
}

void ConsoleWindow::hideConsole() {
  hide();
}

void ConsoleWindow::raiseConsole() {
  raise();
  activateWindow();
}

void ConsoleWindow::paintEvent(QPaintEvent *) {
  QPainter p(this);
  QFontMetrics fm(font());
  int y = 4 + fm.ascent();
  for (const auto &line : lines_) {
    p.drawText(4, y, QString::fromUtf8(line));
    y += fm.lineSpacing();
  }
}

ConsoleViewFactory consoleWindowFactory() {
  return [](ConsoleProcess &console) -> std::unique_ptr<ConsoleView> {
    return std::make_unique<ConsoleWindow>(console);
  };
}

} // namespace mirel
