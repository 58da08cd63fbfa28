// GoogleTest main for window tests: one QApplication on the offscreen
// platform, with the Korean translation the downloader loads.
#include "app/Entry.h"

#include <QApplication>
#include <QTranslator>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QTranslator translator;
  mirel::InstallKoreanTranslation(translator);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
