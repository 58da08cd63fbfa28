#pragma once

#include "childprocess.h"
#include "httpservers.h"
#include "sandbox.h"
#include "swarm.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mirel::test {

// The sample setup program with a payload appended, size bytes in all.
void makeSetupFile(const std::string &path, std::size_t size, std::uint64_t seed = 7);

// Runs argv to its end (at most deadline); the exit code, or -1.
int runToEnd(const std::vector<std::string> &argv, const std::string &logPath,
             std::chrono::seconds deadline = std::chrono::seconds(60));

struct StackOptions {
  std::size_t setupBytes = 4 << 20;
  int waitTime = 10;
  bool seeder = true;
  int seederUploadKiB = 0; // 0: no limit
};

// A download server as the downloader meets it: a setup file published by
// scripts/publish, served by nginx, its hash listed by opentracker, and an
// aria2c seeder when asked for.
class ServerStack {
public:
  explicit ServerStack(const StackOptions &options);

  std::string baseUrl() const { return nginx_->url(); }
  const std::string &folder() const { return folder_; }
  std::string setupPath() const { return folder_ + "/mirelS.setup.exe"; }
  std::string metainfoPath() const { return folder_ + "/mirelS.setup.exe.torrent"; }
  const std::string &infoHash() const { return infoHash_; }
  const std::string &original() const { return original_; }
  // Requests for "/name" the server answered with 200.
  int servedCount(const std::string &name) const;

private:
  Sandbox dir_;
  std::string folder_;
  std::string infoHash_;
  std::string original_; // the setup file's bytes as published
  std::unique_ptr<NginxServer> nginx_;
  std::unique_ptr<Tracker> tracker_;
  std::unique_ptr<Peer> seeder_;
};

// One downloader run as a user starts it: a copy of mirel-downloader in a
// folder of its own (the setup file lands next to it), its own TMPDIR, and the
// runtime folder given (a shared one makes a second instance meet the lock).
class DownloaderRun {
public:
  DownloaderRun(const std::string &root, const std::string &baseUrl,
                const std::string &runtimeFolder,
                const std::map<std::string, std::string> &extraEnv = {});

  ChildProcess &process() { return *process_; }
  pid_t pid() const { return process_->pid(); }
  // Waits for the process to end; its exit code, or nullopt when it did not
  // end in time (or ended by a signal).
  std::optional<int> exitCode(std::chrono::milliseconds deadline);
  std::string log() const;

  std::string workFolder() const { return tmp_ + "/mirelS/"; }
  std::string engineFolder() const { return workFolder() + "mirelS_TXDownTemp/"; }
  std::string target() const { return workFolder() + "mirelS.setup.exe"; }
  std::string besideDownloader() const { return app_ + "/mirelS.setup.exe"; }
  std::string marker() const { return root_ + "/setup-ran"; }
  bool setupRan() const;
  // Processes (other than the downloader) that still use our temporary
  // folder on their command line: a transfer engine left behind.
  std::vector<pid_t> leftoverEngines() const;

private:
  std::string root_, tmp_, app_;
  std::unique_ptr<ChildProcess> process_;
};

// Xvfb on a free display number, for journeys that press the window's button.
class VirtualDisplay {
public:
  VirtualDisplay();
  const std::string &name() const { return name_; }

private:
  std::string name_;
  std::unique_ptr<ChildProcess> process_;
};

// Presses the left mouse button at (x, y) inside the visible window of pid on
// display; false when no such window appeared in time.
bool clickInWindow(const std::string &display, pid_t pid, int x, int y, const std::string &logPath);

} // namespace mirel::test
