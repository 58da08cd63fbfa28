#pragma once

#include <functional>

class QTranslator;
class QWidget;

namespace mirel {

// Loads Qt's Korean translation into translator and installs it, so standard
// buttons read in Korean (OK reads 확인). False when it is not installed.
bool InstallKoreanTranslation(QTranslator &translator);

// The downloader's main routine: product identity, "-console", the
// single-instance lock, the Korean translation, the main window and the
// message loop. Returns the process exit code.
// onShown, when given, runs once the window has been shown (benchmarks).
int RunDownloader(int argc, char **argv, const std::function<void(QWidget &)> &onShown = {});

} // namespace mirel
