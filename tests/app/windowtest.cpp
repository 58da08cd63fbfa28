#include "windowtest.h"

#include "metainfo/MessageDigests.h"

#include <QAbstractButton>
#include <QApplication>

#include <cstdlib>
#include <filesystem>

namespace mirel::test {

MessageBoxAnswerer::MessageBoxAnswerer() {
  timer_.setInterval(10);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    for (QWidget *w : QApplication::topLevelWidgets()) {
      auto *box = qobject_cast<QMessageBox *>(w);
      if (box == nullptr || !box->isVisible())
        continue;
      SeenBox seen{box->text().toStdString(), box->windowTitle().toStdString(), box->icon(), {}};
      if (QAbstractButton *ok = box->button(QMessageBox::Ok)) {
        seen.OkText = ok->text().toStdString();
        Seen.push_back(seen);
        ok->click();
      } else {
        Seen.push_back(seen);
        box->reject();
      }
    }
  });
  timer_.start();
}

namespace {

std::string Str(const std::string &s) {
  return std::to_string(s.size()) + ":" + s;
}

} // namespace

std::string MakeMetainfo(const std::string &name, const std::string &content,
                         const std::string &announce, int pieceLength) {
  std::string pieces;
  for (size_t off = 0; off < content.size(); off += static_cast<size_t>(pieceLength)) {
    TSHA1 sha;
    sha.Update(content.data() + off,
               std::min(content.size() - off, static_cast<size_t>(pieceLength)));
    sha.Finish();
    pieces += sha.Digest();
  }
  return "d8:announce" + Str(announce) + "4:infod6:lengthi" + std::to_string(content.size()) +
         "e4:name" + Str(name) + "12:piece lengthi" + std::to_string(pieceLength) + "e6:pieces" +
         Str(pieces) + "ee";
}

RunFolders::RunFolders() {
  namespace fs = std::filesystem;
  Temp = Box.path().string() + "/tmp/";
  Own = Box.path().string() + "/own/";
  Server = Box.path().string() + "/server/";
  for (const std::string &dir : {Temp, Own, Server})
    fs::create_directories(dir);
  // nginx runs as root here, but keep the served tree readable for any user.
  fs::permissions(Box.path(), fs::perms::all, fs::perm_options::add);
  if (const char *old = std::getenv("TMPDIR")) {
    hadTmp_ = true;
    oldTmp_ = old;
  }
  setenv("TMPDIR", Temp.c_str(), 1);
}

RunFolders::~RunFolders() {
  if (hadTmp_)
    setenv("TMPDIR", oldTmp_.c_str(), 1);
  else
    unsetenv("TMPDIR");
}

void SaveScreenshot(QWidget &window, const std::string &name) {
  const std::string folder = std::string(MIREL_BINARY_DIR) + "/screenshots/";
  std::filesystem::create_directories(folder);
  window.grab().save(QString::fromStdString(folder + name + ".png"), "PNG");
}

std::string SetupScript(const std::string &markPath, const std::string &padding) {
  return "#!/bin/sh\necho ran > '" + markPath + "'\nexit 0\n# " + padding + "\n";
}

} // namespace mirel::test
