#include "tests/support/MediaHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>

namespace tw::test {

MediaHttpServer::MediaHttpServer(const std::string& file, HttpServeOptions options) : options_(options) {
  std::ifstream in(file, std::ios::binary);
  body_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  listen(listen_, 8);
  thread_ = std::thread([this] { Serve(); });
}

MediaHttpServer::~MediaHttpServer() {
  stop_ = true;
  thread_.join();
  for (auto& client : clients_) client.join();
  close(listen_);
}

std::string MediaHttpServer::Url(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
}

void MediaHttpServer::Serve() {
  while (!stop_) {
    pollfd p{listen_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client >= 0) clients_.emplace_back([this, client] { Answer(client); });
  }
}

void MediaHttpServer::Answer(int client) {
  std::string request;
  char buf[1024];
  while (request.find("\r\n\r\n") == std::string::npos && !stop_) {
    const ssize_t n = read(client, buf, sizeof buf);
    if (n <= 0) break;
    request.append(buf, static_cast<size_t>(n));
  }
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                           std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n";
  send(client, head.data(), head.size(), MSG_NOSIGNAL);
  const size_t total =
      static_cast<size_t>(static_cast<double>(body_.size()) * std::clamp(options_.sendFraction, 0.0, 1.0));
  const size_t piece = options_.bytesPerSecond ? std::max<size_t>(1, options_.bytesPerSecond / 20) : total;
  size_t sent = 0;
  while (sent < total && !stop_) {
    const size_t want = std::min(piece, total - sent);
    const ssize_t n = send(client, body_.data() + sent, want, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
    if (options_.bytesPerSecond) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  close(client);
}

}  // namespace tw::test
