#pragma once

#include "childprocess.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace mirel::test {

// Pieces of a BitTorrent swarm on loopback for tests: content, metainfo,
// an opentracker, and seeders or leechers from other clients (aria2c,
// transmission-cli). Each process runs on a port the kernel reports free and
// is stopped by process id when its object goes away.

// Writes size bytes of reproducible pseudo-random data.
void writeRandomFile(const std::string &path, std::size_t size, std::uint64_t seed = 1);

// Runs mktorrent: a metainfo file for contentPath (a file or a folder) with
// one tracker. pieceExp is log2 of the piece length.
void makeTorrent(const std::string &contentPath, const std::string &announceUrl,
                 const std::string &torrentPath, int pieceExp = 18);

// Lower-case hex SHA-1 of the metainfo file's info dictionary.
std::string infoHashHex(const std::string &torrentPath);

// One HTTP GET to 127.0.0.1:port; the body, or empty on failure.
std::string httpGet(int port, const std::string &target);

// opentracker, serving only the info hashes given. Its folder lies under
// /tmp with modes the user "nobody" can read, as opentracker drops to it.
class Tracker {
public:
  // port 0 takes a free one; give one (from freePort()) when the metainfo
  // must name the tracker before the tracker can list its hash.
  explicit Tracker(const std::vector<std::string> &infoHashes, int port = 0);
  static std::string announceUrl(int port);
  ~Tracker();
  Tracker(const Tracker &) = delete;
  Tracker &operator=(const Tracker &) = delete;

  int port() const { return port_; }
  std::string announceUrl() const;
  // True when an announce (not "stopped") for the hash gets a peer list.
  bool accepts(const std::string &infoHash) const;
  // Seeds and leechers the tracker knows for the hash, from its scrape; -1
  // when the scrape fails.
  int seeders(const std::string &infoHash) const;
  int leechers(const std::string &infoHash) const;

private:
  std::filesystem::path folder_;
  int port_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

enum class PeerClient { Aria2, Transmission };

const char *peerClientName(PeerClient client);

// Another client on loopback. As a seeder it needs the complete content in
// folder; as a leecher it downloads into folder, and aria2c exits with code 0
// once the data is complete and checked (use finished()).
class Peer {
public:
  // uploadLimitKiB 0: no limit.
  Peer(PeerClient client, const std::string &torrentPath, const std::string &folder, bool seedOnly,
       const std::string &logPath, int uploadLimitKiB = 0);
  ~Peer() = default;
  Peer(const Peer &) = delete;
  Peer &operator=(const Peer &) = delete;

  int port() const { return port_; }
  ChildProcess &process() { return *process_; }
  // The process ended with exit code 0 (aria2c leechers end after the download).
  bool finished();

private:
  int port_ = 0;
  std::unique_ptr<ChildProcess> process_;
  int status_ = -1;
};

} // namespace mirel::test
