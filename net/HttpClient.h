// The one way Tunewell talks to the vendor's web service: PostJson sends a JSON text and hands
// back the response body. Synchronous: the calling thread waits until the transfer ends, fails
// or times out (10 s to connect, 10 s in all). May be called from any thread; each call uses
// its own handle. The first use initialises libcurl for the whole process, once.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

namespace tw {

struct HttpRequestOptions {
  long connectTimeoutMs = 10000;
  long totalTimeoutMs = 10000;
  // A reply body beyond this fails the request: the service's replies are small.
  size_t maxResponseBytes = 1 << 20;
  // When set and it turns true, the transfer stops and the request fails.
  const std::atomic<bool>* cancel = nullptr;
  // PEM file of the certificate authorities an https address is checked against; "" for the
  // system's own.
  std::string caFile;
};

class HttpClient {
 public:
  // The process-wide client; the first call initialises libcurl.
  static HttpClient& Instance();

  // Posts body (UTF-8 JSON, sent unchanged) to url (http, or https with the certificate and
  // host name verified). 0 when the transfer completed with a non-empty body, which is then in response
  // whatever the HTTP status; -1 otherwise (no connection, time-out, cancelled, an empty or
  // oversized body). Redirects are not followed.
  int PostJson(const std::string& url, const std::string& body, std::string& response,
               const HttpRequestOptions& options = {});

 private:
  HttpClient();
};

}  // namespace tw
