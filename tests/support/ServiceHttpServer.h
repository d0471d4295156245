// A scriptable loopback HTTP server for the online services' tests: every request is kept as
// the server received it (method, target, headers, body) and answered by the test's handler,
// which can also misbehave: cut the body short, leave out Content-Length, trickle the bytes,
// or never answer. It answers "Expect: 100-continue" as a server would.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/LoopbackListener.h"

namespace tw::test {

struct ServiceRequest {
  std::string method;                                        // "POST", "HEAD", "GET"
  std::string target;                                        // "/v2/feedback?x=1"
  std::vector<std::pair<std::string, std::string>> headers;  // in order, names as sent
  std::string body;

  // The value of the first header called name (any case), or empty.
  std::string Header(const std::string& name) const;
};

struct ServiceReply {
  ServiceReply() = default;
  ServiceReply(int statusCode, std::string replyBody) : status(statusCode), body(std::move(replyBody)) {}

  int status = 200;
  std::string body;
  std::vector<std::string> headers;  // extra lines, "Name: value"
  bool contentLength = true;         // send Content-Length: body.size() (announcedLength if set)
  long long announcedLength = -1;    // a Content-Length other than the body's size
  double sendFraction = 1.0;         // of the body sent before the connection is closed
  size_t bytesPerSecond = 0;         // 0: at once
  bool hang = false;                 // read the request, then say nothing until stopped
};

class ServiceHttpServer {
 public:
  using Handler = std::function<ServiceReply(const ServiceRequest&)>;

  explicit ServiceHttpServer(Handler handler);
  ~ServiceHttpServer();
  ServiceHttpServer(const ServiceHttpServer&) = delete;
  ServiceHttpServer& operator=(const ServiceHttpServer&) = delete;

  // "http://127.0.0.1:<port>"
  std::string Base() const;
  std::vector<ServiceRequest> Requests() const;

 private:
  void Answer(int client);

  Handler handler_;
  mutable std::mutex lock_;
  std::vector<ServiceRequest> requests_;
  LoopbackListener listener_;  // last: its threads use the members above
};

}  // namespace tw::test
