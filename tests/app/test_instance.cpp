// Single instance across real processes: the downloader itself and a helper
// that locks under another product id.
#include "app/Identity.h"

#include "childprocess.h"
#include "freeport.h"
#include "sandbox.h"
#include "waitfor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using mirel::test::ChildProcess;
using mirel::test::Sandbox;
using mirel::test::waitFor;

namespace {

const std::string Downloader = std::string(MIREL_BINARY_DIR) + "/src/app/mirel-downloader";
const std::string Helper = std::string(MIREL_BINARY_DIR) + "/tests/app/instance_helper";

// True while some process holds the lock file's flock.
bool LockHeld(const std::string &path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
  close(fd);
  return held;
}

// Runs argv to its end (bounded); returns the exit code, -1 on timeout.
int RunToEnd(const std::vector<std::string> &argv, std::chrono::milliseconds limit,
             const std::string &stderrPath) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(err, 2);
    std::vector<char *> args;
    for (const std::string &a : argv)
      args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = -1;
  const bool ended = waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, limit);
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The file's text, empty while it does not exist yet.
std::string FileText(const std::string &path) {
  return std::filesystem::exists(path) ? mirel::test::readFile(path) : std::string();
}

class SingleInstance : public ::testing::Test {
protected:
  void TearDown() override {
    for (const char *name : {"XDG_RUNTIME_DIR", "TMPDIR", "MIREL_SERVER_URL"})
      unsetenv(name);
  }
  void SetUp() override {
    setenv("XDG_RUNTIME_DIR", box.path().c_str(), 1);
    setenv("TMPDIR", box.path().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Nothing listens there: the first downloader stays open on the server
    // failure, holding the lock.
    setenv("MIREL_SERVER_URL",
           ("http://127.0.0.1:" + std::to_string(mirel::test::freePort()) + "/").c_str(), 1);
    lockPath = box.file(mirel::InstanceMutexName(mirel::ProductId) + ".lock");
  }
  Sandbox box;
  std::string lockPath;
};

} // namespace

TEST_F(SingleInstance, SecondDownloaderExitsAtOnceAndAfterAKillANewOneStarts) {
  auto first =
      std::make_unique<ChildProcess>(std::vector<std::string>{Downloader}, box.file("first.log"));
  ASSERT_TRUE(waitFor([&] { return LockHeld(lockPath); }, 10s));

  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(RunToEnd({Downloader}, 10s, box.file("second.err")), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
  // It said nothing and made no work folder of its own beyond the first's.
  EXPECT_EQ(mirel::test::readFile(box.file("second.err")), "");
  EXPECT_TRUE(first->running());

  // A downloader of another product is not blocked, and blocks nobody.
  ChildProcess other({Helper, "otherProduct"}, box.file("other.log"));
  EXPECT_TRUE(waitFor([&] { return FileText(box.file("other.log")) == "started\n"; }, 10s));
  EXPECT_TRUE(first->running());

  // Killed hard: the kernel drops the lock, and the next one starts.
  kill(first->pid(), SIGKILL);
  first.reset();
  EXPECT_FALSE(LockHeld(lockPath));
  ChildProcess third({Downloader}, box.file("third.log"));
  EXPECT_TRUE(waitFor([&] { return LockHeld(lockPath); }, 10s));
  EXPECT_TRUE(third.running());
}

TEST_F(SingleInstance, HelperForSameProductIdIsRefused) {
  ChildProcess holder({Helper, "someProduct"}, box.file("holder.log"));
  ASSERT_TRUE(waitFor([&] { return FileText(box.file("holder.log")) == "started\n"; }, 10s));
  EXPECT_EQ(RunToEnd({Helper, "someProduct"}, 5s, box.file("h.err")), 0);
  EXPECT_TRUE(holder.running());
}
