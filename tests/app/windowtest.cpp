#include "windowtest.h"

#include "metainfo/MessageDigests.h"
#include "metainfo/TorrentFile.h"

#include "freeport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

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

std::string DeadServerUrl() {
  return "http://127.0.0.1:" + std::to_string(freePort()) + "/";
}

// Processes events until the predicate holds (or the deadline passes).
bool Until(const std::function<bool()> &predicate, std::chrono::milliseconds deadline) {
  return QTest::qWaitFor(predicate, static_cast<int>(deadline.count()));
}

std::string Text(QLabel *label) {
  return label->text().toStdString();
}

void WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

StderrCapture::StderrCapture(const std::string &path) : path_(path) {
  fflush(stderr);
  saved_ = dup(2);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(fd, 2);
  close(fd);
}

StderrCapture::~StderrCapture() {
  Restore();
}

std::string StderrCapture::Restore() {
  if (saved_ >= 0) {
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }
  return readFile(path_);
}

Published::Published(RunFolders &run, const std::string &setup, const std::string &served,
                     const std::string &waitTime)
    : Server(run.Server) {
  std::filesystem::create_directories(run.Server + "files");
  WriteFile(run.Server + "mirelS.setup.exe.torrent",
            MakeMetainfo("setup.sh", setup, "http://127.0.0.1:1/announce", 32768));
  WriteFile(run.Server + "files/setup.sh", served);
  WriteFile(run.Server + "Download.ini",
            "[Connection]\r\nWaitTime=" + waitTime +
                "\r\n[Download]\r\nMIRELS=" + Server.url("files/setup.sh") + "\r\n");
}

TDownload &HostProgram(TfMain &w, const std::string &program, const std::string &args) {
  w.Engines.ReleaseSlot(-1);
  mirel::HeadlessOptions options;
  options.QuitBound = std::chrono::milliseconds(300);
  options.MakeView = w.EngineHost.ConsoleViews();
  mirel::TDownload &slot = w.Engines.Slots[1];
  slot = mirel::TDownload{};
  slot.Engine = std::make_unique<mirel::THeadlessDownloader>(w.MetainfoPath, "\"" + program + "\"",
                                                             args, true, std::move(options));
  slot.Active = slot.Engine->Running();
  slot.MetainfoFile = w.MetainfoPath;
  slot.TotalLength = w.Metainfo->TotalLength;
  return slot;
}

} // namespace mirel::test
