#pragma once

#include "TitleParser.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

struct VTerm;

namespace mirel {

// A program running in a pseudo-terminal of its own, with the host's side of
// that terminal: the title the program sets, its screen (libvterm) and its
// exit code. All reading is non-blocking; every question drains what the
// program has written so far, so it never stays blocked on a full terminal as
// long as someone asks or watches fd().
//
// The program never outlives its host: it gets SIGKILL when the host dies
// (parent-death signal) and a hang-up when the terminal's master side closes.
// The parent-death signal follows the thread that starts the program, so
// start it from the window's thread, which lives as long as the host.
class ConsoleProcess {
public:
  static constexpr std::uint32_t StillActive = 259;

  // Starts argv[0] (a path, not searched in PATH) with the host's environment
  // and folder. started() tells at once whether it could be executed.
  ConsoleProcess(const std::vector<std::string> &argv, std::string startupTitle, int rows = 25,
                 int cols = 80);
  // Kills the program's process group if it still runs, and reaps it.
  ~ConsoleProcess();
  ConsoleProcess(const ConsoleProcess &) = delete;
  ConsoleProcess &operator=(const ConsoleProcess &) = delete;

  bool started() const { return started_; }
  // errno of a failed start, 0 after a good one.
  int startError() const { return startError_; }
  pid_t pid() const { return pid_; }
  // The terminal's master side, non-blocking; -1 when not started. For a
  // watcher that calls drain() when it becomes readable.
  int fd() const { return master_; }
  // True once the program's side of the terminal is closed (no more output).
  bool hungUp() const { return hungUp_; }

  // Reads what is waiting; true when anything was read.
  bool drain();
  // The last title the program set, or the start-up title.
  std::string title();
  // The same as of the last drain, without reading.
  const std::string &currentTitle() const { return titleParser_.title(); }
  // StillActive while running; the exit status, or 128 + signal number.
  std::uint32_t exitCode();
  bool running() { return exitCode() == StillActive; }
  // Types bytes into the terminal; false when they could not all be written.
  bool write(std::string_view bytes);
  // Signals the program's whole process group (no-op once it is reaped).
  void signal(int sig);
  // The screen as of the last drain, as text: one UTF-8 string per row,
  // trailing blanks cut.
  std::vector<std::string> screen() const;
  int rows() const { return rows_; }
  int cols() const { return cols_; }

  // Called after a drain that read something (title or screen may differ).
  void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

private:
  bool reap(int options);

  struct VTermDeleter {
    void operator()(VTerm *vt) const;
  };

  pid_t pid_ = -1;
  int master_ = -1;
  bool started_ = false;
  int startError_ = 0;
  bool hungUp_ = false;
  bool reaped_ = false;
  std::uint32_t exitCode_ = StillActive;
  int rows_;
  int cols_;
  TitleParser titleParser_;
  std::unique_ptr<VTerm, VTermDeleter> vterm_;
  std::function<void()> onChange_;
};

// The window that shows one console's screen with its title; implemented by
// the window layer, so this library needs no widgets.
class ConsoleView {
public:
  virtual ~ConsoleView() = default;
  virtual void showConsole() = 0;
  virtual void hideConsole() = 0;
  virtual void raiseConsole() = 0;
};

using ConsoleViewFactory = std::function<std::unique_ptr<ConsoleView>(ConsoleProcess &)>;

} // namespace mirel
