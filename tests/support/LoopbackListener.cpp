#include "tests/support/LoopbackListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tw::test {

LoopbackListener::LoopbackListener(Handler handler, int backlog) : handler_(std::move(handler)) {
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  listen(listen_, backlog);
  thread_ = std::thread([this] { Accept(); });
}

LoopbackListener::~LoopbackListener() {
  stop_ = true;
  thread_.join();
  for (auto& client : clients_) client.join();
  close(listen_);
}

void LoopbackListener::Accept() {
  while (!stop_) {
    pollfd p{listen_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client >= 0) clients_.emplace_back([this, client] { handler_(client); });
  }
}

}  // namespace tw::test
