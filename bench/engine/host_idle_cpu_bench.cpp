// CPU the host spends while an engine runs and updates its title every
// second: the console window (hidden) watches the terminal and a 2-second
// timer reads the title and exit code, as the downloader's monitor does.
// Usage: host_idle_cpu_bench ENGINE METAINFO ARGS SECONDS
// Prints the host's own CPU time as percent of one core over that time.
#include "engine/headless.h"
#include "platform/ConsoleWindow.h"

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <string>
#include <sys/resource.h>

namespace {
double cpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}
} // namespace

int main(int argc, char **argv) {
  if (argc != 5)
    return 2;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int qargc = 1;
  QApplication app(qargc, argv);
  mirel::HeadlessOptions options;
  options.MakeView = mirel::consoleWindowFactory();
  mirel::THeadlessDownloader engine(argv[2], std::string("\"") + argv[1] + "\"", argv[3], true,
                                    options);
  if (!engine.Running()) {
    std::fprintf(stderr, "engine did not start\n");
    return 1;
  }
  int titlesSeen = 0;
  std::string last;
  QTimer monitor;
  QObject::connect(&monitor, &QTimer::timeout, [&] {
    std::uint32_t code = 0;
    engine.GetExitCode(code);
    if (code != 259) {
      std::fprintf(stderr, "engine exited (%u)\n", code);
      app.exit(1);
    }
    std::string title = engine.ReadTitle();
    titlesSeen += title != last;
    last = title;
  });
  monitor.start(2000);

  const double seconds = std::atof(argv[4]);
  const auto wall0 = std::chrono::steady_clock::now();
  const double cpu0 = cpuSeconds();
  QTimer::singleShot(static_cast<int>(seconds * 1000), &app, &QApplication::quit);
  if (app.exec() != 0)
    return 1;
  const double cpu = cpuSeconds() - cpu0;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  std::fprintf(stderr, "last title: %s (%d changes seen)\n", last.c_str(), titlesSeen);
  std::printf("%.4f\n", 100.0 * cpu / wall);
  return 0;
}
