#pragma once

#include "app/uMain.h"

#include "httpservers.h"
#include "sandbox.h"

#include <QMessageBox>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace mirel::test {

// One message box as the user saw it.
struct SeenBox {
  std::string Text;
  std::string Caption;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  std::string OkText;
};

// Answers every modal message box that appears (presses its OK button) and
// records what it showed.
class MessageBoxAnswerer {
public:
  MessageBoxAnswerer();
  std::vector<SeenBox> Seen;

private:
  QTimer timer_;
};

// A single-file metainfo (bencoded, piece hashes computed) for content.
std::string MakeMetainfo(const std::string &name, const std::string &content,
                         const std::string &announce, int pieceLength = 16384);

// A folder tree for one downloader run: TMPDIR, the downloader's own folder
// and the server's folder, with TMPDIR pointed at the sandbox.
class RunFolders {
public:
  RunFolders();
  ~RunFolders();
  Sandbox Box;
  std::string Temp;   // TMPDIR, with "/"
  std::string Own;    // the downloader's folder, with "/"
  std::string Server; // served by nginx, with "/"
  std::string Work() const { return Temp + "mirelS/"; }
  std::string Engine() const { return Work() + "mirelS_TXDownTemp/"; }

private:
  std::string oldTmp_;
  bool hadTmp_ = false;
};

// Saves a picture of the window into the screenshot folder (build tree
// "screenshots/") under name.png.
void SaveScreenshot(QWidget &window, const std::string &name);

// A setup program: a shell script that leaves a mark file when it runs.
std::string SetupScript(const std::string &markPath, const std::string &padding = {});

// A base URL where nothing listens.
std::string DeadServerUrl();

// Processes events until the predicate holds or the deadline passes.
bool Until(const std::function<bool()> &predicate,
           std::chrono::milliseconds deadline = std::chrono::seconds(20));

std::string Text(QLabel *label);
void WriteFile(const std::string &path, const std::string &bytes);

// Captures standard error (the trace lines) for one scope.
class StderrCapture {
public:
  explicit StderrCapture(const std::string &path);
  ~StderrCapture();
  // Stops capturing; returns what was captured.
  std::string Restore();

private:
  std::string path_;
  int saved_ = -1;
};

// A published product on nginx: the metainfo of setup, "files/setup.sh"
// serving the bytes served, and a Download.ini with the waiting time and
// the fallback URL.
struct Published {
  Published(RunFolders &run, const std::string &setup, const std::string &served,
            const std::string &waitTime);
  NginxServer Server;
};

// Puts a program of our choosing into slot 1 as if it were the engine,
// after stopping whatever engine the preparation started.
TDownload &HostProgram(TfMain &w, const std::string &program, const std::string &args);

} // namespace mirel::test
