#pragma once

#include "childprocess.h"
#include "sandbox.h"

#include <memory>
#include <string>
#include <vector>

namespace mirel::test {

// nginx serving a folder on 127.0.0.1, on a port of its own, as one process
// (no workers, so no change of user) that is stopped by process id.
class NginxServer {
public:
  explicit NginxServer(const std::string &root);
  int port() const { return port_; }
  // "http://127.0.0.1:<port>/" + path (a leading "/" of path is dropped).
  std::string url(const std::string &path = {}) const;
  // The access log so far: one "combined" line per request served.
  std::string accessLog() const;

private:
  Sandbox dir_; // configuration, logs and temporary files
  int port_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

// tests/net/faultserver.py on 127.0.0.1: an HTTP server with endpoints that
// fail in the ways real servers do (see the script for the list).
class FaultServer {
public:
  FaultServer();
  int port() const { return port_; }
  std::string url(const std::string &path = {}) const;

private:
  Sandbox dir_;
  int port_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

// A listening socket on 127.0.0.1 whose backlog is full: a connect to it is
// neither accepted nor refused, like a server that never answers.
class BlackholeListener {
public:
  BlackholeListener();
  ~BlackholeListener();
  BlackholeListener(const BlackholeListener &) = delete;
  BlackholeListener &operator=(const BlackholeListener &) = delete;
  int port() const { return port_; }
  std::string url(const std::string &path = {}) const;

private:
  int listener_ = -1;
  std::vector<int> fillers_;
  int port_ = 0;
};

} // namespace mirel::test
