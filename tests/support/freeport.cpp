#include "freeport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace mirel::test {

namespace {

sockaddr_in loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

struct Socket {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ~Socket() {
    if (fd >= 0)
      close(fd);
  }
};

} // namespace

int freePort() {
  Socket s;
  if (s.fd < 0)
    throw std::runtime_error("socket() failed");
  sockaddr_in addr = loopback(0);
  if (bind(s.fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
    throw std::runtime_error("bind() failed");
  socklen_t len = sizeof addr;
  getsockname(s.fd, reinterpret_cast<sockaddr *>(&addr), &len);
  return ntohs(addr.sin_port);
}

bool portAccepts(int port) {
  Socket s;
  sockaddr_in addr = loopback(port);
  return s.fd >= 0 && connect(s.fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
}

} // namespace mirel::test
