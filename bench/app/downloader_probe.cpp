// The downloader's own start-up path, timed: prints the wall-clock time (ns
// since 1970) at which the main window was first painted, then ends.
#include "app/Entry.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <cstdio>
#include <ctime>

namespace {

class FirstPaint : public QObject {
public:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Paint && !done_) {
      done_ = true;
      timespec ts{};
      clock_gettime(CLOCK_REALTIME, &ts);
      std::printf("%lld\n", static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
      std::fflush(stdout);
      QCoreApplication::exit(0);
    }
    return QObject::eventFilter(watched, event);
  }

private:
  bool done_ = false;
};

} // namespace

int main(int argc, char **argv) {
  FirstPaint probe;
  return mirel::RunDownloader(argc, argv, [&](QWidget &window) {
    window.installEventFilter(&probe);
    // The offscreen platform paints on demand; ask for the first frame.
    window.update();
  });
}
