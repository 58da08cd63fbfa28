#pragma once

namespace mirel::test {

// A TCP port on 127.0.0.1 that the kernel reports free right now.
int freePort();

// True when something accepts TCP connections on 127.0.0.1:port.
bool portAccepts(int port);

} // namespace mirel::test
