// A server on loopback that accepts connections and never answers them: a client stays inside
// its connect until the server is gone.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace remoteccm::testing {

class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd_, 8), 0);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  // Closing the socket resets the connections it never accepted: their clients' waits end.
  ~SilentServer() { ::close(fd_); }
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  int port() const { return port_; }
  // Blocks until a client has connected (it then waits for an answer that never comes), or
  // until `other` is readable when one is given; whether a client connected.
  bool WaitForClient(int other = -1) const {
    pollfd waits[] = {{fd_, POLLIN, 0}, {other, POLLIN, 0}};
    while (::poll(waits, other < 0 ? 1 : 2, -1) < 1) {
    }
    return (waits[0].revents & POLLIN) != 0;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace remoteccm::testing
