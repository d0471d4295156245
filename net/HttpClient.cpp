#include "net/HttpClient.h"

#include <glog/logging.h>

#include <mutex>

#include "net/CurlPtr.h"

namespace tw {
namespace {

struct Receiver {
  std::string* body = nullptr;
  size_t limit = 0;
  const std::atomic<bool>* cancel = nullptr;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto* receiver = static_cast<Receiver*>(user);
  const size_t bytes = size * count;
  // Taking less than the chunk makes libcurl end the transfer with a write error.
  if (receiver->body->size() + bytes > receiver->limit) return 0;
  receiver->body->append(data, bytes);
  return bytes;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* receiver = static_cast<Receiver*>(user);
  return receiver->cancel && receiver->cancel->load() ? 1 : 0;
}

}  // namespace

HttpClient::HttpClient() {
  curl_global_init(CURL_GLOBAL_ALL);
}

HttpClient& HttpClient::Instance() {
  static std::mutex lock;
  static std::atomic<HttpClient*> instance{nullptr};
  if (HttpClient* existing = instance.load()) return *existing;
  std::lock_guard<std::mutex> hold(lock);
  if (!instance.load()) instance = new HttpClient();  // lives until the process ends
  return *instance.load();
}

int HttpClient::PostJson(const std::string& url, const std::string& body, std::string& response,
                         const HttpRequestOptions& options) {
  response.clear();
  CurlSlistPtr headers = AppendHeader(nullptr, "Accept: application/json");
  if (headers) headers = AppendHeader(std::move(headers), "Content-Type:application/json;charset=UTF-8");
  if (!headers) return -1;
  CurlEasyPtr curl(curl_easy_init());
  if (!curl) return -1;

  Receiver receiver{&response, options.maxResponseBytes, options.cancel};
  CURL* h = curl.get();
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  // An https address is checked like any other client would: the certificate must lead to a
  // trusted authority and name the host (libcurl's defaults, stated so nobody turns them off).
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!options.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, options.caFile.c_str());
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, options.totalTimeoutMs);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, WriteBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &receiver);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &receiver);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);

  const CURLcode code = curl_easy_perform(h);
  LOG(ERROR) << "curl code:" << code << ",strerror:" << curl_easy_strerror(code);
  if (code != CURLE_OK) {
    response.clear();  // a cut-off or oversized body is no answer
    return -1;
  }
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  LOG(ERROR) << "response code:" << status;
  if (response.empty()) {
    LOG(ERROR) << "response result:" << response;
    return -1;
  }
  return 0;
}

}  // namespace tw
