#include "TransferSession.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/alert_types.hpp>
#include <libtorrent/error_code.hpp>
#include <libtorrent/posix_disk_io.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>
#include <sys/stat.h>
#include <unistd.h>

namespace mirel {

namespace fs = std::filesystem;

namespace {

// Metainfo files of real content stay far below this; a bigger file is not one.
constexpr std::uintmax_t MaxMetainfoSize = 32 * 1024 * 1024;

std::shared_ptr<lt::torrent_info> loadMetainfo(const std::string &path) {
  std::error_code fec;
  if (!fs::is_regular_file(path, fec))
    throw ETransferError("cannot read the metainfo file " + path + ": " +
                         (fec ? fec.message() : std::string("not a regular file")));
  std::ifstream in(path, std::ios::binary);
  std::string bytes;
  if (in) {
    in.seekg(0, std::ios::end);
    auto size = static_cast<std::uintmax_t>(in.tellg());
    if (size > MaxMetainfoSize)
      throw ETransferError("the metainfo file " + path + " is too large to be one");
    bytes.resize(size);
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(size));
  }
  if (!in)
    throw ETransferError("cannot read the metainfo file " + path);
  lt::error_code ec;
  auto info = std::make_shared<lt::torrent_info>(lt::span<const char>(bytes.data(), bytes.size()),
                                                 ec, lt::from_span);
  if (ec)
    throw ETransferError("invalid metainfo file " + path + ": " + ec.message());
  if (info->num_files() == 0 || info->total_size() <= 0)
    throw ETransferError("invalid metainfo file " + path + ": it describes no data");
  return info;
}

// Every file of the torrent is on disk with its full size.
bool allFilesPresent(const lt::add_torrent_params &p) {
  const lt::file_storage &files = p.ti->files();
  for (lt::file_index_t i : files.file_range()) {
    if (files.pad_file_at(i))
      continue; // alignment padding is never on disk
    auto renamed = p.renamed_files.find(i);
    std::string rel = renamed != p.renamed_files.end() ? renamed->second : files.file_path(i);
    std::error_code ec;
    auto size = fs::file_size(fs::path(p.save_path) / rel, ec);
    if (ec || static_cast<int64_t>(size) != files.file_size(i))
      return false;
  }
  return true;
}

void checkWritable(const std::string &target, bool singleFile) {
  const fs::path path(target);
  std::error_code ec;
  fs::create_directories(singleFile ? path.parent_path() : path, ec);
  if (ec)
    throw ETransferError("cannot create the folder for " + target + ": " + ec.message());
  if (singleFile) {
    // Opening it now, as the transfer will, finds a read-only disk or a
    // folder in the way before any peer is contacted. A file made only for
    // this goes again, so nothing needs checking.
    bool made = true;
    int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) {
      made = false;
      fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    }
    if (fd < 0)
      throw ETransferError("cannot write " + target + ": " + std::strerror(errno));
    ::close(fd);
    if (made)
      ::unlink(target.c_str());
  } else if (::access(target.c_str(), W_OK) != 0) {
    throw ETransferError("cannot write into " + target + ": " + std::strerror(errno));
  }
}

} // namespace

lt::settings_pack engineSettings(const EngineOptions &o) {
  lt::settings_pack sp;
  // Only the tracker finds peers: no DHT, no local discovery, and no
  // changes to the user's router.
  sp.set_bool(lt::settings_pack::enable_dht, false);
  sp.set_bool(lt::settings_pack::enable_lsd, false);
  sp.set_bool(lt::settings_pack::enable_upnp, false);
  sp.set_bool(lt::settings_pack::enable_natpmp, false);
  sp.set_int(lt::settings_pack::alert_mask, lt::alert_category::error | lt::alert_category::status |
                                                lt::alert_category::storage |
                                                lt::alert_category::tracker);
  const std::string port = std::to_string(o.minPort);
  sp.set_str(lt::settings_pack::listen_interfaces, "0.0.0.0:" + port + ",[::]:" + port);
  // A busy port moves on to the next one, up to --maxport.
  sp.set_int(lt::settings_pack::max_retry_port_bind, o.maxPort - o.minPort);
  sp.set_int(lt::settings_pack::upload_rate_limit, o.maxUploadRate * 1024);
  sp.set_int(lt::settings_pack::unchoke_slots_limit, std::max(o.maxUploads, o.minUploads));
  // Several peers may share one address (NAT, or all of them on one host).
  sp.set_bool(lt::settings_pack::allow_multiple_connections_per_ip, true);
  // uTP is tried first by default, and a peer without it (aria2) then costs
  // a connect time-out before TCP is tried; TCP reaches every client.
  sp.set_bool(lt::settings_pack::enable_outgoing_utp, false);
  // Quitting must not hang on a tracker that does not answer.
  sp.set_int(lt::settings_pack::stop_tracker_timeout, 2);
  sp.set_int(lt::settings_pack::tracker_completion_timeout, 10);
  sp.set_str(lt::settings_pack::user_agent, "Mirel/1.0 libtorrent/" LIBTORRENT_VERSION);
  return sp;
}

TransferSession::TransferSession(const EngineOptions &options)
    : minPort_(options.minPort), maxPort_(options.maxPort),
      debug_(std::getenv("MIREL_ENGINE_TRACE") != nullptr) {
  lt::add_torrent_params p;
  p.ti = loadMetainfo(options.responseFile);
  const lt::file_storage &files = p.ti->files();
  const bool singleFile =
      files.num_files() == 1 && files.file_path(lt::file_index_t{0}) == files.name();

  target_ = options.saveAs.empty() ? files.name() : options.saveAs;
  fs::path target = fs::absolute(fs::path(target_));
  target_ = target.lexically_normal().string();
  if (target.filename().empty())
    throw ETransferError("--saveas must name a file, not a folder: " + options.saveAs);

  p.save_path = target.parent_path().string();
  const std::string newName = target.filename().string();
  if (singleFile) {
    p.renamed_files[lt::file_index_t{0}] = newName;
  } else {
    // Swap the torrent's top folder for the name given.
    for (lt::file_index_t i : files.file_range()) {
      fs::path rel = files.file_path(i);
      fs::path renamed = newName;
      for (auto it = std::next(rel.begin()); it != rel.end(); ++it)
        renamed /= *it;
      p.renamed_files[i] = renamed.string();
    }
  }

  // Trusting the data on disk only makes sense when all of it is there; a
  // partial file is checked like any other.
  if (!options.checkHashes && allFilesPresent(p))
    p.flags |= lt::torrent_flags::seed_mode;
  checkWritable(target_, singleFile);

  p.flags &= ~lt::torrent_flags::auto_managed;
  p.flags &= ~lt::torrent_flags::paused;

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
    throw ETransferError(std::string("cannot make a pipe: ") + std::strerror(errno));
  wakeRead_.fd = pipeFds[0];
  wakeWrite_.fd = pipeFds[1];

  lt::session_params params(engineSettings(options));
  // Plain reads and writes rather than memory maps: the mapped pages of a
  // large file would count against the engine's memory.
  params.disk_io_constructor = lt::posix_disk_io_constructor;
  session_ = std::make_unique<lt::session>(std::move(params));
  const int wake = wakeWrite_.fd;
  session_->set_alert_notify([wake] {
    char c = 1;
    [[maybe_unused]] auto n = ::write(wake, &c, 1);
  });

  waitForListen();

  lt::error_code ec;
  torrent_ = session_->add_torrent(std::move(p), ec);
  if (ec)
    throw ETransferError("cannot start the transfer: " + ec.message());
}

TransferSession::~TransferSession() {
  if (session_) {
    session_->set_alert_notify([] {});
    // The proxy's destructor waits for the "stopped" announce, bounded by
    // stop_tracker_timeout, and for the files to be closed.
    lt::session_proxy proxy = session_->abort();
    session_.reset();
  }
}

TransferSession::Fd::~Fd() {
  if (fd >= 0)
    ::close(fd);
}

void TransferSession::waitForListen() {
  // The session binds its sockets on its own thread and reports each one.
  // Peers and trackers of this engine are reached over IPv4, so an IPv4 TCP
  // socket on a port of the range is required; IPv6 is welcome but optional.
  // When every port of the range is taken libtorrent falls back to a port
  // the system picks, which the host's firewall rules would not expect.
  bool seenV4 = false;
  bool v4InRange = false;
  std::string failure;
  const auto start = std::chrono::steady_clock::now();
  auto deadline = start + std::chrono::seconds(5);
  while (!v4InRange && std::chrono::steady_clock::now() < deadline) {
    session_->wait_for_alert(lt::milliseconds(50));
    std::vector<lt::alert *> alerts;
    session_->pop_alerts(&alerts);
    for (lt::alert *a : alerts) {
      if (debug_)
        std::fprintf(stderr, "[%s] %s\n", a->what(), a->message().c_str());
      if (auto *ok = lt::alert_cast<lt::listen_succeeded_alert>(a)) {
        if (ok->socket_type != lt::socket_type_t::tcp || !ok->address.is_v4())
          continue;
        if (ok->port >= minPort_ && ok->port <= maxPort_)
          v4InRange = true;
        else
          failure = "every port is in use";
      } else if (auto *failed = lt::alert_cast<lt::listen_failed_alert>(a)) {
        if (failed->socket_type != lt::socket_type_t::tcp || !failed->address.is_v4())
          continue;
        failure = failed->error.message();
      } else {
        continue;
      }
      if (!seenV4) {
        // The rest of this batch of listen reports follows right away.
        seenV4 = true;
        deadline =
            std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(300));
      }
    }
  }
  if (!v4InRange)
    throw ETransferError("cannot listen on any port from " + std::to_string(minPort_) + " to " +
                         std::to_string(maxPort_) +
                         (failure.empty() ? std::string() : ": " + failure));
  char drain[64];
  while (::read(wakeRead_.fd, drain, sizeof drain) > 0) {
  }
}

void TransferSession::poll() {
  char drain[64];
  while (::read(wakeRead_.fd, drain, sizeof drain) > 0) {
  }
  handleAlerts();
}

void TransferSession::handleAlerts() {
  std::vector<lt::alert *> alerts;
  session_->pop_alerts(&alerts);
  for (lt::alert *a : alerts) {
    if (debug_)
      std::fprintf(stderr, "[%s] %s\n", a->what(), a->message().c_str());
    if (auto *fe = lt::alert_cast<lt::file_error_alert>(a)) {
      throw ETransferError("disk error on " + std::string(fe->filename()) + ": " +
                           fe->error.message());
    } else if (auto *te = lt::alert_cast<lt::torrent_error_alert>(a)) {
      throw ETransferError("transfer stopped: " + te->error.message());
    } else if (auto *tr = lt::alert_cast<lt::tracker_error_alert>(a)) {
      // A listen socket that cannot reach the tracker (IPv6 to an IPv4
      // tracker) skips its announce; that is no trouble worth showing.
      if (tr->error == lt::errors::announce_skipped)
        continue;
      lastError_ = "tracker: " + (tr->error ? tr->error.message() : std::string()) +
                   (std::string(tr->failure_reason()).empty()
                        ? std::string()
                        : " (" + std::string(tr->failure_reason()) + ")");
    } else if (auto *tw = lt::alert_cast<lt::tracker_warning_alert>(a)) {
      lastError_ = "tracker warning: " + std::string(tw->warning_message());
    } else if (lt::alert_cast<lt::tracker_reply_alert>(a)) {
      lastError_.clear();
    } else if (auto *pe = lt::alert_cast<lt::peer_error_alert>(a)) {
      lastError_ = "peer: " + pe->error.message();
    }
  }
}

TransferStatus TransferSession::status() {
  const lt::torrent_status st = torrent_.status();
  TransferStatus s;
  switch (st.state) {
  case lt::torrent_status::checking_resume_data:
    // A brief look before the real work, whatever is on disk.
    s.phase = TransferPhase::Starting;
    break;
  case lt::torrent_status::checking_files:
    s.phase = TransferPhase::Checking;
    s.progress = st.progress;
    break;
  case lt::torrent_status::finished:
  case lt::torrent_status::seeding:
    s.phase = TransferPhase::Seeding;
    s.progress = 1;
    break;
  default:
    s.phase = TransferPhase::Leeching;
    s.progress = st.total_wanted > 0 ? static_cast<double>(st.total_wanted_done) /
                                           static_cast<double>(st.total_wanted)
                                     : 0;
    break;
  }
  // Amounts only ever grow on the console, even if the session's counters
  // were ever reset.
  maxUploaded_ = std::max(maxUploaded_, st.total_payload_upload);
  maxDownloaded_ = std::max(maxDownloaded_, st.total_payload_download);
  s.uploadedBytes = maxUploaded_;
  s.downloadedBytes = maxDownloaded_;
  s.uploadRate = st.upload_payload_rate;
  s.downloadRate = s.phase == TransferPhase::Seeding ? 0 : st.download_payload_rate;
  s.totalBytes = st.total_wanted;
  s.remainingBytes = st.total_wanted - st.total_wanted_done;
  s.peers = st.num_peers;
  s.seeds = st.num_seeds;
  s.fileName = target_;
  s.lastError = lastError_;
  return s;
}

} // namespace mirel
