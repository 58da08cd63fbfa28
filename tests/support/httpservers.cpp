#include "httpservers.h"

#include "freeport.h"
#include "waitfor.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace mirel::test {

namespace {

std::string joinUrl(int port, const std::string &path) {
  std::string p = !path.empty() && path.front() == '/' ? path.substr(1) : path;
  return "http://127.0.0.1:" + std::to_string(port) + "/" + p;
}

// Starts the server that makeArgv describes on a free port; tries again on
// another port when the first one was taken in the meantime.
template <typename MakeArgv>
std::unique_ptr<ChildProcess> startOnFreePort(int &port, const std::string &log, MakeArgv makeArgv,
                                              const std::string &what) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    port = freePort();
    auto process = std::make_unique<ChildProcess>(makeArgv(port), log);
    if (waitFor([&] { return portAccepts(port) || !process->running(); },
                std::chrono::seconds(10)) &&
        process->running())
      return process;
  }
  throw std::runtime_error(what + " did not start; see " + log + ":\n" + readFile(log));
}

} // namespace

NginxServer::NginxServer(const std::string &root) {
  const std::string dir = dir_.path().string();
  auto makeArgv = [&](int port) {
    std::ofstream conf(dir_.file("nginx.conf"), std::ios::trunc);
    conf << "daemon off;\n"
            "master_process off;\n"
            "pid "
         << dir << "/nginx.pid;\n"
         << "error_log " << dir << "/error.log warn;\n"
         << "events { worker_connections 256; }\n"
            "http {\n"
            "  access_log "
         << dir
         << "/access.log;\n"
            "  default_type application/octet-stream;\n"
            "  sendfile on;\n"
            "  client_body_temp_path "
         << dir << "/client_temp;\n"
         << "  proxy_temp_path " << dir << "/proxy_temp;\n"
         << "  fastcgi_temp_path " << dir << "/fastcgi_temp;\n"
         << "  uwsgi_temp_path " << dir << "/uwsgi_temp;\n"
         << "  scgi_temp_path " << dir << "/scgi_temp;\n"
         << "  server {\n"
            "    listen 127.0.0.1:"
         << port << ";\n"
         << "    root " << root << ";\n"
         << "  }\n"
            "}\n";
    conf.close();
    return std::vector<std::string>{
        "nginx", "-p", dir + "/", "-e", dir + "/error.log", "-c", dir + "/nginx.conf"};
  };
  process_ = startOnFreePort(port_, dir_.file("nginx.out"), makeArgv, "nginx");
}

std::string NginxServer::url(const std::string &path) const {
  return joinUrl(port_, path);
}

std::string NginxServer::accessLog() const {
  return readFile(dir_.file("access.log"));
}

FaultServer::FaultServer() {
  const std::string script = std::string(MIREL_SOURCE_DIR) + "/tests/net/faultserver.py";
  auto makeArgv = [&](int port) {
    return std::vector<std::string>{"python3", "-u", script, std::to_string(port)};
  };
  process_ = startOnFreePort(port_, dir_.file("faultserver.log"), makeArgv, "faultserver.py");
}

std::string FaultServer::url(const std::string &path) const {
  return joinUrl(port_, path);
}

BlackholeListener::BlackholeListener() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      ::listen(listener_, 0) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
    if (listener_ >= 0)
      ::close(listener_);
    throw std::runtime_error("cannot open a listening socket");
  }
  port_ = ntohs(addr.sin_port);
  // Never accepted: once these fill the queue, further handshakes are dropped.
  for (int i = 0; i < 4; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
      continue;
    fillers_.push_back(fd);
    ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, 100);
  }
}

BlackholeListener::~BlackholeListener() {
  for (int fd : fillers_)
    ::close(fd);
  ::close(listener_);
}

std::string BlackholeListener::url(const std::string &path) const {
  return joinUrl(port_, path);
}

} // namespace mirel::test
