#include "headless.h"

#include "platform/KeyMap.h"
#include "platform/MessagePump.h"
#include "sendkeys.h"

#include <csignal>
#include <thread>

namespace mirel {

namespace {

constexpr std::size_t TitleLimit = 127;
constexpr auto QuitKeyInterval = std::chrono::milliseconds(50);
constexpr auto TermPoll = std::chrono::milliseconds(10);

std::string FileNamePart(const std::string &path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  std::vector<std::string> args;
  std::string current;
  bool inArg = false, quoted = false;
  for (char c : commandLine) {
    if (c == '"') {
      quoted = !quoted;
      inArg = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inArg)
        args.push_back(std::move(current));
      current.clear();
      inArg = false;
    } else {
      current += c;
      inArg = true;
    }
  }
  if (inArg)
    args.push_back(std::move(current));
  return args;
}

std::string StartupTitle(const std::string &titleFile) {
  return "ZUL! Initializing " + FileNamePart(titleFile);
}

THeadlessDownloader::THeadlessDownloader(const std::string &titleFile,
                                         const std::string &commandExe,
                                         const std::string &commandArgs, bool hidden,
                                         HeadlessOptions options)
    : Options_(std::move(options)) {
  if (FileNamePart(titleFile).empty())
    return;
  CommandLine_ = commandExe + " " + commandArgs;
  auto argv = SplitCommandLine(CommandLine_);
  if (argv.empty())
    return;
  Console_ = std::make_unique<ConsoleProcess>(argv, StartupTitle(titleFile));
  if (!Console_->started()) {
    Console_.reset();
    return;
  }
  Running_ = true;
  if (Options_.MakeView)
    View_ = Options_.MakeView(*Console_);
  if (hidden) {
    ConsoleVisible_ = false;
  } else {
    ConsoleVisible_ = true;
    if (View_)
      View_->showConsole();
  }
}

THeadlessDownloader::~THeadlessDownloader() {
  if (Running_)
    Quit();
  View_.reset(); // it watches the console, so it goes first
  Console_.reset();
}

void THeadlessDownloader::Quit() {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + Options_.QuitBound;
  SendText("q");
  for (;;) {
    ProcessMessages();
    if (!Console_->running())
      return;
    if (Clock::now() >= deadline)
      break;
    SendText("q");
    std::this_thread::sleep_for(QuitKeyInterval);
  }
  // It did not take the key: ask the system, then insist.
  Console_->signal(SIGTERM);
  const auto termDeadline = Clock::now() + Options_.TermGrace;
  while (Console_->running() && Clock::now() < termDeadline)
    std::this_thread::sleep_for(TermPoll);
  if (Console_->running())
    Console_->signal(SIGKILL); // the console's destructor reaps it
}

void THeadlessDownloader::SendKey(std::uint16_t key) {
  if (!Console_)
    return;
  SendKeyToWindow(*Console_, ConsoleVisible_ ? View_.get() : nullptr, key, 0, false);
}

void THeadlessDownloader::SendText(std::string_view text) {
  for (char c : text)
    SendKey(VkKeyScanA(c));
}

void THeadlessDownloader::ShowConsole() {
  if (!Running_)
    return;
  if (View_)
    View_->showConsole();
  ConsoleVisible_ = true;
}

void THeadlessDownloader::HideConsole() {
  if (!Running_)
    return;
  if (View_)
    View_->hideConsole();
  ConsoleVisible_ = false;
}

std::string THeadlessDownloader::ReadTitle() {
  if (!Running_)
    return {};
  std::string title = Console_->title();
  if (title.size() > TitleLimit) {
    std::size_t cut = TitleLimit;
    // Do not leave half a UTF-8 character at the end.
    while (cut > 0 && (static_cast<unsigned char>(title[cut]) & 0xC0) == 0x80)
      --cut;
    title.resize(cut);
  }
  return title;
}

bool THeadlessDownloader::GetExitCode(std::uint32_t &code) {
  if (!Console_)
    return false;
  code = Console_->exitCode();
  return true;
}

int THeadlessDownloader::ProcessId() const {
  return Console_ ? Console_->pid() : -1;
}

} // namespace mirel
