#pragma once

#include <cstdint>
#include <string>

namespace mirel {

enum class TransferPhase { Starting, Checking, Leeching, Seeding };

// One snapshot of the transfer, as the engine shows it.
struct TransferStatus {
  TransferPhase phase = TransferPhase::Starting;
  double progress = 0;       // 0..1 of the wanted data, or of the check while Checking
  int64_t uploadedBytes = 0; // this session
  int64_t downloadedBytes = 0;
  double uploadRate = 0; // bytes per second
  double downloadRate = 0;
  int64_t totalBytes = 0;     // size of the content
  int64_t remainingBytes = 0; // still to download
  int peers = 0;              // connected, seeds included
  int seeds = 0;
  std::string fileName;  // where the data goes
  std::string lastError; // latest tracker or peer trouble, empty when none
};

// The console title the host reads:
//   "<percent> Up: <x.xx> MB @ <x.xx> kB/s Down: <x.xx> MB @ <x.xx> kB/s | <activity>"
// with MB = 2^20 bytes, kB = 1024 bytes, activity "Leeching: <p>%" while
// downloading and "Seeding" once complete (download rate then 0.00).
std::string formatStatusTitle(const TransferStatus &s);

// The terminal sequence that sets the title; control bytes in the title are
// replaced so they cannot end the sequence early.
std::string titleSequence(const std::string &title);

// The text with control bytes replaced by '?', so text from outside (tracker
// messages, file names) cannot steer the terminal.
std::string printable(const std::string &text);

// The readable block of status lines printed on the console.
std::string formatStatusLines(const TransferStatus &s);

// "h:mm:ss" for a time left, "-" when unknown or done.
std::string formatTimeLeft(const TransferStatus &s);

} // namespace mirel
