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

namespace {

std::vector<char> ReadAll(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

MediaHttpServer::MediaHttpServer(const std::string& file, HttpServeOptions options)
    : body_(ReadAll(file)), options_(options), listener_([this](int client) { Answer(client); }, 8) {}

MediaHttpServer::~MediaHttpServer() = default;

std::string MediaHttpServer::Url(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(listener_.Port()) + "/" + name;
}

void MediaHttpServer::Answer(int client) {
  const std::atomic<bool>& stop = listener_.Stopping();
  std::string request;
  char buf[1024];
  while (request.find("\r\n\r\n") == std::string::npos && !stop) {
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
  while (sent < total && !stop) {
    const size_t want = std::min(piece, total - sent);
    const ssize_t n = send(client, body_.data() + sent, want, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
    sent_ += static_cast<size_t>(n);
    if (options_.bytesPerSecond) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  close(client);
}

}  // namespace tw::test
