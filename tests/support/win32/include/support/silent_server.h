// A server on loopback that accepts connections and never answers them: a client stays inside
// its connect until the server is gone. Winsock's side; under Wine its socket is the host's, which
// the host's drivers reach.
#pragma once

#include <gtest/gtest.h>
#include <winsock2.h>

namespace remoteccm::testing {

class SilentServer {
 public:
  SilentServer() {
    WSADATA data{};
    EXPECT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(socket_, 8), 0);
    int length = sizeof address;
    ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  // Closing the socket resets the connections it never accepted: their clients' waits end.
  ~SilentServer() {
    ::closesocket(socket_);
    ::WSACleanup();
  }
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  int port() const { return port_; }
  // Blocks until a client has connected (it then waits for an answer that never comes).
  bool WaitForClient() const {
    WSAPOLLFD wait{socket_, POLLRDNORM, 0};
    while (::WSAPoll(&wait, 1, -1) < 1) {
    }
    return (wait.revents & POLLRDNORM) != 0;
  }

 private:
  SOCKET socket_ = INVALID_SOCKET;
  int port_ = 0;
};

}  // namespace remoteccm::testing
