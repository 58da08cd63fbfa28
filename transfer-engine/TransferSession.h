#pragma once

#include "EngineOptions.h"
#include "StatusTitle.h"

#include <chrono>
#include <libtorrent/session.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/torrent_handle.hpp>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace mirel {

// A condition the engine cannot go on with (bad metainfo, unwritable target,
// no port to listen on, a disk error during the transfer).
class ETransferError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The session settings for the options: only the tracker finds peers (no
// DHT, local discovery, UPnP or NAT-PMP), listening from --minport on, moving
// up to --maxport when a port is taken, uploads limited as asked.
lt::settings_pack engineSettings(const EngineOptions &options);

// One torrent in one libtorrent session, set up from the engine's options.
//
// The target: for a single-file torrent --saveas is the file itself, whatever
// the name in the metainfo. For a multi-file torrent --saveas is the folder
// that takes the place of the torrent's top folder, so its files land in
// <saveas>/<path inside the torrent>.
class TransferSession {
public:
  // Throws ETransferError when the transfer cannot start.
  explicit TransferSession(const EngineOptions &options);
  // Tells the tracker "stopped" (bounded by a short time-out) and closes the files.
  ~TransferSession();
  TransferSession(const TransferSession &) = delete;
  TransferSession &operator=(const TransferSession &) = delete;

  // Becomes readable when libtorrent has alerts waiting; drain it with poll().
  int wakeFd() const { return wakeRead_.fd; }

  // Handles waiting alerts. Throws ETransferError for a fatal one.
  void poll();

  TransferStatus status();
  const std::string &targetPath() const { return target_; }

private:
  void waitForListen();
  void handleAlerts();

  // An owned file descriptor.
  struct Fd {
    int fd = -1;
    Fd() = default;
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd();
  };

  int minPort_;
  int maxPort_;
  bool debug_; // every alert on standard error, for diagnosis
  // The wake pipe is declared before the session so it outlives the
  // session's threads, which write to it.
  Fd wakeRead_;
  Fd wakeWrite_;
  std::unique_ptr<lt::session> session_;
  lt::torrent_handle torrent_;
  std::string target_;
  std::string lastError_;
  int64_t maxUploaded_ = 0;
  int64_t maxDownloaded_ = 0;
};

} // namespace mirel
