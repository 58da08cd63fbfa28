#pragma once

#include "platform/ConsoleProcess.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mirel {

// Splits a command line into arguments the way Windows programs read theirs:
// blanks separate arguments, double quotes group (and are dropped), there are
// no escapes. `""` gives an empty argument.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The start-up title of an engine's console: "ZUL! Initializing " + file name.
std::string StartupTitle(const std::string &titleFile);

// How an engine is hosted and stopped. The defaults are the downloader's.
struct HeadlessOptions {
  // "q" is typed every 50 ms this long; then SIGTERM, then SIGKILL.
  std::chrono::milliseconds QuitBound{10000};
  // How long SIGTERM may take before SIGKILL.
  std::chrono::milliseconds TermGrace{2000};
  // Makes the console's window; none: the console has no window.
  ConsoleViewFactory MakeView;
};

// One running transfer engine in a console of its own. Construction starts
// it and returns at once; Running() tells whether it started. Destruction
// stops it for certain (bounded quit protocol) and reaps it.
class THeadlessDownloader {
public:
  // titleFile: its file name goes into the start-up title. commandExe: the
  // engine's path in double quotes. commandArgs: its options.
  THeadlessDownloader(const std::string &titleFile, const std::string &commandExe,
                      const std::string &commandArgs, bool hidden, HeadlessOptions options = {});
  virtual ~THeadlessDownloader();
  THeadlessDownloader(const THeadlessDownloader &) = delete;
  THeadlessDownloader &operator=(const THeadlessDownloader &) = delete;

  bool Running() const { return Running_; }
  bool ConsoleVisible() const { return ConsoleVisible_; }
  // The whole command line the engine was started with.
  const std::string &CommandLine() const { return CommandLine_; }

  // Types a key (low byte: virtual-key code) without modifiers.
  void SendKey(std::uint16_t key);
  // Types each character's key as VkKeyScanA names it; the shift state it
  // reports is not pressed, so "Q" types the q key.
  void SendText(std::string_view text);
  void ShowConsole();
  void HideConsole();
  // The console title, cut to its first 127 bytes (never inside a UTF-8
  // character); empty when not running.
  std::string ReadTitle();
  // The exit code: 259 while running. False when there is no process.
  bool GetExitCode(std::uint32_t &code);
  // The engine's process id, -1 when none.
  int ProcessId() const;

private:
  void Quit();

  HeadlessOptions Options_;
  std::string CommandLine_;
  bool Running_ = false;
  bool ConsoleVisible_ = false;
  std::unique_ptr<ConsoleProcess> Console_;
  std::unique_ptr<ConsoleView> View_;
};

} // namespace mirel
