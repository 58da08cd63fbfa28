#include "journey.h"

#include "freeport.h"
#include "waitfor.h"

#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>

namespace mirel::test {

namespace fs = std::filesystem;

void makeSetupFile(const std::string &path, std::size_t size, std::uint64_t seed) {
  std::string bytes = readFile(MIREL_SAMPLE_SETUP);
  if (bytes.size() > size)
    throw std::runtime_error("a setup file cannot be smaller than the sample program");
  // The payload a real setup program carries after its code.
  std::mt19937_64 rng(seed);
  while (bytes.size() < size) {
    const std::uint64_t word = rng();
    bytes.append(reinterpret_cast<const char *>(&word),
                 std::min<std::size_t>(sizeof word, size - bytes.size()));
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush())
    throw std::runtime_error("cannot write " + path);
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

int runToEnd(const std::vector<std::string> &argv, const std::string &logPath,
             std::chrono::seconds deadline) {
  ChildProcess child(argv, logPath);
  waitFor([&] { return !child.running(); }, deadline);
  const int status = child.stop();
  return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ServerStack::ServerStack(const StackOptions &options) {
  folder_ = dir_.file("server");
  fs::create_directories(folder_);
  // The server is up before anything is published, so the base URL is known.
  nginx_ = std::make_unique<NginxServer>(folder_);
  const std::string setup = dir_.file("mirelS.setup.exe");
  makeSetupFile(setup, options.setupBytes);

  const int trackerPort = freePort();
  const std::string publishLog = dir_.file("publish.log");
  const int rc =
      runToEnd({"bash", std::string(MIREL_SOURCE_DIR) + "/scripts/publish", "--tracker",
                Tracker::announceUrl(trackerPort), "--wait-time", std::to_string(options.waitTime),
                "--piece-size-log", "16", "--tool", MIREL_TORRENT_INFO, setup, baseUrl(), folder_},
               publishLog);
  if (rc != 0)
    throw std::runtime_error("scripts/publish failed:\n" + readFile(publishLog));
  infoHash_ = readFile(folder_ + "/whitelist");
  while (!infoHash_.empty() && (infoHash_.back() == '\n' || infoHash_.back() == '\r'))
    infoHash_.pop_back();
  original_ = readFile(setupPath());
  tracker_ = std::make_unique<Tracker>(std::vector<std::string>{infoHash_}, trackerPort);

  if (options.seeder) {
    seeder_ = std::make_unique<Peer>(PeerClient::Aria2, metainfoPath(), folder_, true,
                                     dir_.file("seeder.log"), options.seederUploadKiB);
    // The downloader must find the seeder in its first peer list.
    if (!waitFor([&] { return tracker_->seeders(infoHash_) >= 1; }, std::chrono::seconds(30),
                 std::chrono::milliseconds(100)))
      throw std::runtime_error("the seeder never reached the tracker:\n" +
                               readFile(dir_.file("seeder.log")));
  }
}

int ServerStack::servedCount(const std::string &name) const {
  std::istringstream log(nginx_->accessLog());
  const std::string request = "\"GET /" + name + " HTTP/";
  int count = 0;
  for (std::string line; std::getline(log, line);) {
    const auto at = line.find(request);
    if (at != std::string::npos && line.find("\" 200 ", at) != std::string::npos)
      ++count;
  }
  return count;
}

DownloaderRun::DownloaderRun(const std::string &root, const std::string &baseUrl,
                             const std::string &runtimeFolder,
                             const std::map<std::string, std::string> &extraEnv)
    : root_(root), tmp_(root + "/tmp"), app_(root + "/app") {
  fs::create_directories(tmp_);
  fs::create_directories(app_);
  fs::create_directories(runtimeFolder);
  fs::permissions(runtimeFolder, fs::perms::owner_all);
  const std::string exe = app_ + "/mirel-downloader";
  fs::copy_file(MIREL_DOWNLOADER, exe, fs::copy_options::overwrite_existing);
  fs::permissions(exe, fs::perms::owner_all);

  std::map<std::string, std::string> env{{"TMPDIR", tmp_},
                                         {"XDG_RUNTIME_DIR", runtimeFolder},
                                         {"MIREL_SERVER_URL", baseUrl},
                                         {"MIREL_SETUP_MARKER", marker()},
                                         {"QT_QPA_PLATFORM", "offscreen"}};
  for (const auto &[key, value] : extraEnv)
    env[key] = value;
  std::vector<std::string> argv{"env"};
  for (const auto &[key, value] : env)
    argv.push_back(key + "=" + value);
  argv.push_back(exe);
  process_ = std::make_unique<ChildProcess>(argv, root_ + "/downloader.log", app_);
}

std::optional<int> DownloaderRun::exitCode(std::chrono::milliseconds deadline) {
  if (!waitFor([&] { return !process_->running(); }, deadline))
    return std::nullopt;
  const int status = process_->stop();
  if (status < 0 || !WIFEXITED(status))
    return std::nullopt;
  return WEXITSTATUS(status);
}

std::string DownloaderRun::log() const {
  return readFile(root_ + "/downloader.log");
}

bool DownloaderRun::setupRan() const {
  return fs::exists(marker());
}

std::vector<pid_t> DownloaderRun::leftoverEngines() const {
  std::vector<pid_t> found;
  DIR *proc = opendir("/proc");
  if (proc == nullptr)
    return found;
  while (const dirent *entry = readdir(proc)) {
    char *end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0' || pid == process_->pid())
      continue;
    std::ifstream in(std::string("/proc/") + entry->d_name + "/cmdline", std::ios::binary);
    const std::string cmdline((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (cmdline.find(tmp_ + "/") != std::string::npos)
      found.push_back(static_cast<pid_t>(pid));
  }
  closedir(proc);
  return found;
}

VirtualDisplay::VirtualDisplay() {
  for (int number = 90; number < 190 && !process_; ++number) {
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    if (fs::exists(socket) || fs::exists("/tmp/.X" + std::to_string(number) + "-lock"))
      continue;
    auto xvfb = std::make_unique<ChildProcess>(std::vector<std::string>{
        "Xvfb", ":" + std::to_string(number), "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    if (waitFor([&] { return fs::exists(socket) || !xvfb->running(); }, std::chrono::seconds(10)) &&
        xvfb->running()) {
      name_ = ":" + std::to_string(number);
      process_ = std::move(xvfb);
    }
  }
  if (!process_)
    throw std::runtime_error("no free display for Xvfb");
}

bool clickInWindow(const std::string &display, pid_t pid, int x, int y,
                   const std::string &logPath) {
  const std::string out = logPath + ".window";
  std::string window;
  const bool found = waitFor(
      [&] {
        fs::remove(out);
        if (runToEnd({"sh", "-c",
                      "DISPLAY=" + display + " xdotool search --onlyvisible --pid " +
                          std::to_string(pid) + " > " + out},
                     logPath) != 0)
          return false;
        std::istringstream lines(readFile(out));
        return static_cast<bool>(std::getline(lines, window)) && !window.empty();
      },
      std::chrono::seconds(20), std::chrono::milliseconds(200));
  if (!found)
    return false;
  return runToEnd({"env", "DISPLAY=" + display, "xdotool", "mousemove", "--window", window,
                   std::to_string(x), std::to_string(y), "click", "1"},
                  logPath) == 0;
}

} // namespace mirel::test
