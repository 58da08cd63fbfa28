#include "swarm.h"

#include "freeport.h"
#include "sandbox.h"
#include "waitfor.h"

#include <arpa/inet.h>
#include <cstdio>
#include <fstream>
#include <netinet/in.h>
#include <openssl/sha.h>
#include <random>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mirel::test {

namespace fs = std::filesystem;

namespace {

// Index just past the bencoded value that starts at pos.
std::size_t skipValue(const std::string &b, std::size_t pos, int depth = 0) {
  if (pos >= b.size() || depth > 64)
    throw std::runtime_error("bad bencode");
  char c = b[pos];
  if (c == 'i') {
    auto end = b.find('e', pos);
    if (end == std::string::npos)
      throw std::runtime_error("bad bencode integer");
    return end + 1;
  }
  if (c == 'l' || c == 'd') {
    ++pos;
    while (pos < b.size() && b[pos] != 'e')
      pos = skipValue(b, pos, depth + 1);
    if (pos >= b.size())
      throw std::runtime_error("bad bencode list");
    return pos + 1;
  }
  auto colon = b.find(':', pos);
  if (colon == std::string::npos)
    throw std::runtime_error("bad bencode string");
  std::size_t len = std::stoul(b.substr(pos, colon - pos));
  if (colon + 1 + len > b.size())
    throw std::runtime_error("bad bencode string length");
  return colon + 1 + len;
}

std::string urlEncode(const std::string &bytes) {
  static const char *hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += '%';
    out += hex[c >> 4];
    out += hex[c & 15];
  }
  return out;
}

std::string fromHex(const std::string &hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// The integer after "<key>i" in the scrape reply, or -1.
int scrapeField(const std::string &reply, const std::string &key) {
  std::string marker = std::to_string(key.size()) + ":" + key + "i";
  auto pos = reply.find(marker);
  if (pos == std::string::npos)
    return -1;
  return std::atoi(reply.c_str() + pos + marker.size());
}

int runQuiet(const std::vector<std::string> &argv) {
  ChildProcess child(argv);
  waitFor([&] { return !child.running(); }, std::chrono::seconds(60));
  int status = child.stop();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

void writeRandomFile(const std::string &path, std::size_t size, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<std::uint64_t> block(8192);
  std::size_t left = size;
  while (left > 0) {
    for (auto &w : block)
      w = rng();
    std::size_t n = std::min(left, block.size() * sizeof(std::uint64_t));
    out.write(reinterpret_cast<const char *>(block.data()), static_cast<std::streamsize>(n));
    left -= n;
  }
  if (!out)
    throw std::runtime_error("cannot write " + path);
}

void makeTorrent(const std::string &contentPath, const std::string &announceUrl,
                 const std::string &torrentPath, int pieceExp) {
  fs::remove(torrentPath);
  int rc = runQuiet({"mktorrent", "-a", announceUrl, "-l", std::to_string(pieceExp), "-o",
                     torrentPath, contentPath});
  if (rc != 0 || !fs::exists(torrentPath))
    throw std::runtime_error("mktorrent failed for " + contentPath);
}

std::string infoHashHex(const std::string &torrentPath) {
  std::string b = readFile(torrentPath);
  if (b.empty() || b[0] != 'd')
    throw std::runtime_error("not a metainfo file: " + torrentPath);
  std::size_t pos = 1;
  while (pos < b.size() && b[pos] != 'e') {
    std::size_t keyEnd = skipValue(b, pos);
    std::string key = b.substr(b.find(':', pos) + 1, keyEnd - b.find(':', pos) - 1);
    std::size_t valueEnd = skipValue(b, keyEnd);
    if (key == "info") {
      unsigned char digest[SHA_DIGEST_LENGTH];
      SHA1(reinterpret_cast<const unsigned char *>(b.data() + keyEnd), valueEnd - keyEnd, digest);
      char hex[2 * SHA_DIGEST_LENGTH + 1];
      for (int i = 0; i < SHA_DIGEST_LENGTH; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
      return hex;
    }
    pos = valueEnd;
  }
  throw std::runtime_error("no info dictionary in " + torrentPath);
}

std::string httpGet(int port, const std::string &target) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return {};
  timeval tv{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
    std::string request =
        "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
      char buf[4096];
      ssize_t n;
      while ((n = recv(fd, buf, sizeof buf, 0)) > 0)
        reply.append(buf, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  auto body = reply.find("\r\n\r\n");
  return body == std::string::npos ? std::string() : reply.substr(body + 4);
}

Tracker::Tracker(const std::vector<std::string> &infoHashes, int port) {
  // Not under TMPDIR: a test's own temporary folder may be closed to others.
  std::string pattern = "/tmp/mirel-tracker-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make the tracker folder");
  folder_ = pattern;
  chmod(folder_.c_str(), 0755);
  fs::path whitelist = folder_ / "whitelist";
  {
    std::ofstream out(whitelist);
    for (const auto &h : infoHashes)
      out << h << "\n";
  }
  chmod(whitelist.c_str(), 0644);

  port_ = port > 0 ? port : freePort();
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"opentracker", "-i", "127.0.0.1", "-p", std::to_string(port_), "-P",
                               std::to_string(port_), "-w", whitelist.string()},
      (folder_ / "opentracker.log").string(), folder_.string());
  // It reads the whitelist a moment after it starts listening.
  bool ready = infoHashes.empty()
                   ? waitFor([&] { return portAccepts(port_); }, std::chrono::seconds(10))
                   : waitFor([&] { return accepts(infoHashes.front()); }, std::chrono::seconds(10),
                             std::chrono::milliseconds(100));
  if (!ready)
    throw std::runtime_error("opentracker did not come up on port " + std::to_string(port_));
}

Tracker::~Tracker() {
  process_.reset();
  std::error_code ec;
  fs::remove_all(folder_, ec);
}

std::string Tracker::announceUrl(int port) {
  return "http://127.0.0.1:" + std::to_string(port) + "/announce";
}

std::string Tracker::announceUrl() const {
  return announceUrl(port_);
}

bool Tracker::accepts(const std::string &infoHash) const {
  // A probe that leaves no trace: "left" 0 and port 1, then "stopped".
  std::string query = "info_hash=" + urlEncode(fromHex(infoHash)) +
                      "&peer_id=-MT0001-readinessprb&port=1&uploaded=0&downloaded=0&left=0"
                      "&compact=1";
  std::string reply = httpGet(port_, "/announce?" + query);
  bool ok = reply.find("5:peers") != std::string::npos &&
            reply.find("failure reason") == std::string::npos;
  if (ok)
    httpGet(port_, "/announce?" + query + "&event=stopped");
  return ok;
}

int Tracker::seeders(const std::string &infoHash) const {
  return scrapeField(httpGet(port_, "/scrape?info_hash=" + urlEncode(fromHex(infoHash))),
                     "complete");
}

int Tracker::leechers(const std::string &infoHash) const {
  return scrapeField(httpGet(port_, "/scrape?info_hash=" + urlEncode(fromHex(infoHash))),
                     "incomplete");
}

const char *peerClientName(PeerClient client) {
  return client == PeerClient::Aria2 ? "aria2c" : "transmission-cli";
}

Peer::Peer(PeerClient client, const std::string &torrentPath, const std::string &folder,
           bool seedOnly, const std::string &logPath, int uploadLimitKiB) {
  port_ = freePort();
  std::vector<std::string> argv;
  if (client == PeerClient::Aria2) {
    argv = {"aria2c",
            "--dir=" + folder,
            "--listen-port=" + std::to_string(port_),
            "--bt-enable-lpd=false",
            "--enable-dht=false",
            "--enable-dht6=false",
            "--enable-peer-exchange=false",
            "--check-integrity=true",
            "--file-allocation=none",
            "--summary-interval=0",
            "--console-log-level=notice",
            "--bt-tracker-interval=5",
            "--stop-with-process=" + std::to_string(getpid())};
    // A seeder stays until stopped; a leecher ends once the data is complete.
    argv.push_back(seedOnly ? "--seed-ratio=0.0" : "--seed-time=0");
    if (uploadLimitKiB > 0)
      argv.push_back("--max-overall-upload-limit=" + std::to_string(uploadLimitKiB) + "K");
    argv.push_back(torrentPath);
  } else {
    // Its configuration folder turns off everything but the tracker.
    fs::path config = fs::path(folder) / ".transmission";
    fs::create_directories(config);
    std::ofstream(config / "settings.json")
        << "{\"dht-enabled\": false, \"lpd-enabled\": false, \"pex-enabled\": false,"
           " \"port-forwarding-enabled\": false, \"ratio-limit-enabled\": false,"
           " \"idle-seeding-limit-enabled\": false}\n";
    argv = {"transmission-cli",
            "-g",
            config.string(),
            "-w",
            folder,
            "-p",
            std::to_string(port_),
            "-M",
            "-U",
            "-D",
            torrentPath};
  }
  process_ = std::make_unique<ChildProcess>(argv, logPath, folder);
}

bool Peer::finished() {
  if (process_->running())
    return false;
  int status = process_->stop();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace mirel::test
