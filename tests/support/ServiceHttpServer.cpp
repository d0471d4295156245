#include "tests/support/ServiceHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace tw::test {
namespace {

// Reads more of the connection into buffer; false at the end, on an error or when stopping.
bool ReadMore(int client, std::string& buffer, const std::atomic<bool>& stop) {
  while (!stop) {
    pollfd p{client, POLLIN, 0};
    const int ready = poll(&p, 1, 50);
    if (ready < 0) return false;
    if (ready == 0) continue;
    char chunk[4096];
    const ssize_t n = read(client, chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
    return true;
  }
  return false;
}

bool SendAll(int client, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = send(client, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

}  // namespace

std::string ServiceRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers)
    if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
  return {};
}

ServiceHttpServer::ServiceHttpServer(Handler handler)
    : handler_(std::move(handler)), listener_([this](int client) { Answer(client); }) {}

ServiceHttpServer::~ServiceHttpServer() = default;

std::string ServiceHttpServer::Base() const {
  return "http://127.0.0.1:" + std::to_string(listener_.Port());
}

std::vector<ServiceRequest> ServiceHttpServer::Requests() const {
  std::lock_guard<std::mutex> hold(lock_);
  return requests_;
}

void ServiceHttpServer::Answer(int client) {
  const std::atomic<bool>& stop = listener_.Stopping();
  std::string buffer;
  // One request per connection: the head, then as much body as Content-Length says.
  size_t headEnd = std::string::npos;
  while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos)
    if (!ReadMore(client, buffer, stop)) return (void)close(client);
  ServiceRequest request;
  const std::string head = buffer.substr(0, headEnd);
  size_t lineEnd = head.find("\r\n");
  const std::string first = head.substr(0, lineEnd);
  const size_t sp1 = first.find(' '), sp2 = first.rfind(' ');
  request.method = first.substr(0, sp1);
  request.target = first.substr(sp1 + 1, sp2 - sp1 - 1);
  while (lineEnd != std::string::npos && lineEnd < head.size()) {
    const size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string line =
        head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    request.headers.emplace_back(line.substr(0, colon), value);
  }
  const size_t length = std::strtoul(request.Header("Content-Length").c_str(), nullptr, 10);
  buffer.erase(0, headEnd + 4);
  if (strcasecmp(request.Header("Expect").c_str(), "100-continue") == 0) {
    static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
    SendAll(client, kContinue, sizeof kContinue - 1);
  }
  while (buffer.size() < length)
    if (!ReadMore(client, buffer, stop)) break;
  request.body = buffer.substr(0, length);
  {
    std::lock_guard<std::mutex> hold(lock_);
    requests_.push_back(request);
  }

  const ServiceReply reply = handler_(request);
  if (reply.hang) {
    while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return (void)close(client);
  }
  std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) + "\r\n";
  for (const std::string& line : reply.headers) out += line + "\r\n";
  if (reply.contentLength)
    out += "Content-Length: " +
           std::to_string(reply.announcedLength >= 0 ? reply.announcedLength
                                                     : static_cast<long long>(reply.body.size())) +
           "\r\n";
  out += "Connection: close\r\n\r\n";
  SendAll(client, out.data(), out.size());
  if (request.method != "HEAD") {
    const size_t total = static_cast<size_t>(static_cast<double>(reply.body.size()) *
                                             std::clamp(reply.sendFraction, 0.0, 1.0));
    const size_t piece = reply.bytesPerSecond ? std::max<size_t>(1, reply.bytesPerSecond / 20) : total;
    size_t sent = 0;
    while (sent < total && !stop) {
      const size_t want = std::min(piece, total - sent);
      if (!SendAll(client, reply.body.data() + sent, want)) break;
      sent += want;
      if (reply.bytesPerSecond) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  shutdown(client, SHUT_WR);
  close(client);
}

}  // namespace tw::test
