// mirel-engine: downloads (and then seeds) one torrent, showing its progress
// in the terminal title for the downloader that hosts it. Quits on q.
#include "EngineOptions.h"
#include "StatusTitle.h"
#include "Terminal.h"
#include "TransferSession.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

using namespace mirel;
using Clock = std::chrono::steady_clock;

namespace {

// Shows the reason and waits for a key (or the end of the terminal), as a
// console window that closes on its own would hide the reason.
int fatal(Terminal &term, const std::string &reason) {
  term.write("\r\n" + printable(reason) +
             "\r\n\r\nEXITED ON ERROR; PRESS ANY KEY TO CLOSE WINDOW\r\n");
  while (term.inputOpen()) {
    Terminal::Input in = term.wait(1000);
    if (in.anyKey || in.hangUp || in.signal)
      break;
  }
  return 1;
}

void show(Terminal &term, const TransferStatus &status) {
  std::string out = titleSequence(formatStatusTitle(status));
  if (term.outputIsTty())
    out += "\x1b[H\x1b[J"; // redraw in place
  else
    out += "\n";
  out += formatStatusLines(status);
  term.write(out);
}

int run(Terminal &term, const EngineOptions &options) {
  std::unique_ptr<TransferSession> session;
  std::string error;
  try {
    session = std::make_unique<TransferSession>(options);
    const auto interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options.displayInterval));
    auto next = Clock::now();
    for (;;) {
      auto now = Clock::now();
      if (now >= next) {
        session->poll();
        show(term, session->status());
        next += interval;
        if (next <= now)
          next = now + interval;
      }
      auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
      Terminal::Input in = term.wait(static_cast<int>(waitMs), session->wakeFd());
      if (in.quitKey || in.hangUp || in.signal)
        break;
      if (in.extraReady)
        session->poll();
    }
  } catch (const ETransferError &e) {
    error = e.what();
  }
  if (session) {
    term.write("\r\nstopping: telling the tracker and closing the file...\r\n");
    session.reset();
  }
  if (!error.empty())
    return fatal(term, error);
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  Terminal term; // first, so no thread of the session sees our signals
  try {
    EngineOptions options = parseEngineOptions(std::vector<std::string>(argv + 1, argv + argc));
    return run(term, options);
  } catch (const EOptionError &e) {
    return fatal(term, std::string(e.what()) + "\r\n\r\n" + engineUsage());
  } catch (const std::exception &e) {
    return fatal(term, e.what());
  }
}
