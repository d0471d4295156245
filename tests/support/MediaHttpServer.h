// A loopback HTTP server for media tests: serves one file to every request, optionally
// cutting the connection part-way (a read error for the client) or trickling the bytes out
// slowly (a reader that is still busy when the test acts).
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/LoopbackListener.h"

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
  // Bytes of the body handed to the clients so far (all answers together).
  size_t BytesSent() const { return sent_.load(); }

 private:
  void Answer(int client);

  std::vector<char> body_;
  HttpServeOptions options_;
  std::atomic<size_t> sent_{0};
  LoopbackListener listener_;  // last: its threads use the members above
};

}  // namespace tw::test
