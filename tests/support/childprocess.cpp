#include "childprocess.h"

#include "waitfor.h"

#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace mirel::test {

ChildProcess::ChildProcess(std::vector<std::string> argv, std::string logPath, std::string cwd) {
  if (argv.empty())
    throw std::invalid_argument("ChildProcess needs a program");
  std::vector<char *> args;
  for (auto &a : argv)
    args.push_back(a.data());
  args.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0)
    throw std::runtime_error("fork() failed");
  if (pid_ == 0) {
    setpgid(0, 0);
    int out = open(logPath.empty() ? "/dev/null" : logPath.c_str(),
                   O_WRONLY | O_CREAT | O_APPEND, 0644);
    int in = open("/dev/null", O_RDONLY);
    if (out >= 0) {
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
    }
    if (in >= 0)
      dup2(in, STDIN_FILENO);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0)
      _exit(126);
    execvp(args[0], args.data());
    _exit(127);
  }
  setpgid(pid_, pid_); // also from the parent, so the group exists before we signal it
}

ChildProcess::~ChildProcess() { stop(); }

bool ChildProcess::running() {
  if (pid_ <= 0)
    return false;
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    status_ = status;
    kill(-pid_, SIGKILL); // anything the child left in its group
    pid_ = -1;
    return false;
  }
  return r == 0;
}

int ChildProcess::stop() {
  if (pid_ <= 0)
    return status_;
  kill(-pid_, SIGTERM);
  if (!waitFor([this] { return !running(); }, std::chrono::seconds(5))) {
    kill(-pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    status_ = status;
    pid_ = -1;
  }
  return status_;
}

} // namespace mirel::test
