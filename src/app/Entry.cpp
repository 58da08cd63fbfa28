#include "Entry.h"

#include "Identity.h"
#include "InstanceLock.h"
#include "uMain.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

#include <climits>
#include <unistd.h>

namespace mirel {

namespace {

// Folder of the running executable, with a trailing "/".
std::string OwnFolder() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0)
    return "./";
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

} // namespace

bool InstallKoreanTranslation(QTranslator &translator) {
  QLocale::setDefault(QLocale(QLocale::Korean, QLocale::SouthKorea));
  return translator.load(QLocale(QLocale::Korean), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
         QCoreApplication::installTranslator(&translator);
}

int RunDownloader(int argc, char **argv, const std::function<void(QWidget &)> &onShown) {
  const bool showEngineConsole = ParseShowEngineConsole(argc, argv);
  const std::string title = ApplicationTitle(DisplayName, ProductId);

  // Checked before any window system connection is made, so a second
  // instance ends at once and shows nothing.
  InstanceLock lock;
  if (!ProductId.empty() &&
      lock.Acquire(InstanceMutexName(ProductId)) == InstanceLock::Result::AlreadyRunning)
    return 0;

  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QString());
  QApplication::setApplicationName(QString::fromStdString(title));
  QTranslator translator;
  InstallKoreanTranslation(translator);

  if (ProductId.empty()) {
    QMessageBox box(
        QMessageBox::NoIcon, QString::fromStdString(title),
        QStringLiteral("업데이트 하려는 제품의 정보가 없습니다.\r\n\r\n프로그램을 종료합니다."),
        QMessageBox::Ok);
    box.exec();
    return 0;
  }

  TfMain fMain({ResolveServerBaseUrl(), OwnFolder(), showEngineConsole});
  fMain.setWindowTitle(QString::fromStdString(title));
  // Queued, so a request made before the loop runs takes effect once it
  // starts, and one made inside a modal box leaves every loop.
  fMain.OnEndRequested = [] {
    QMetaObject::invokeMethod(
        qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  };
  fMain.show();
  if (onShown)
    onShown(fMain);
  if (!fMain.EndRequested())
    QApplication::exec();
  return 0;
}

} // namespace mirel
