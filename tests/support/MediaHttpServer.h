// A loopback HTTP server for media tests: serves one file to every request, optionally
// cutting the connection part-way (a read error for the client) or trickling the bytes out
// slowly (a reader that is still busy when the test acts).
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

namespace tw::test {

struct HttpServeOptions {
  double sendFraction = 1.0;  // of the body sent before the connection is closed
  size_t bytesPerSecond = 0;  // 0: as fast as the socket takes it
};

class MediaHttpServer {
 public:
  explicit MediaHttpServer(const std::string& file, HttpServeOptions options = {});
  ~MediaHttpServer();
  MediaHttpServer(const MediaHttpServer&) = delete;
  MediaHttpServer& operator=(const MediaHttpServer&) = delete;

  // http://127.0.0.1:<port>/<name>
  std::string Url(const std::string& name = "media.wav") const;

 private:
  void Serve();
  void Answer(int client);

  std::vector<char> body_;
  HttpServeOptions options_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::vector<std::thread> clients_;
  std::thread thread_;
};

}  // namespace tw::test
