#include "net/HttpDownload.h"

#include <glog/logging.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "net/CurlPtr.h"
#include "net/HttpClient.h"

namespace tw {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// What the GET's callbacks share with the download thread.
struct Transfer {
  std::FILE* file = nullptr;
  std::int64_t expected = 0;
  std::int64_t received = 0;
  int lastPercent = 0;
  bool tooLong = false;
  bool writeFailed = false;
  const std::atomic<bool>* cancel = nullptr;
  MessageSink* sink = nullptr;
};

size_t WriteChunk(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (t->received + static_cast<std::int64_t>(bytes) > t->expected) {
    t->tooLong = true;  // more than announced: not the file that was offered
    return 0;
  }
  if (std::fwrite(data, 1, bytes, t->file) != bytes) {
    t->writeFailed = true;
    return 0;
  }
  t->received += static_cast<std::int64_t>(bytes);
  const int percent = DownloadPercent(t->received, t->expected);
  if (percent != t->lastPercent) {
    t->lastPercent = percent;
    PostValue(t->sink, WM_DOWNLOAD_PROGRESS, percent);
  }
  return bytes;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* cancel = static_cast<const std::atomic<bool>*>(user);
  return cancel->load() ? 1 : 0;
}

size_t DiscardBody(char*, size_t size, size_t count, void*) {
  return size * count;
}

// The options both requests share: the address without its query, http(s) only, a few
// redirects at most, no proxy, caches bypassed, and an end for stalled servers.
void SetCommon(CURL* h, const std::string& url, curl_slist* headers, const DownloadLimits& limits,
               const std::atomic<bool>* cancel) {
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  // An https address is never redirected to plain http.
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, url.rfind("https://", 0) == 0 ? "https" : "http,https");
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!limits.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, limits.caFile.c_str());
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(h, CURLOPT_PROXY, "");
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, limits.stallSeconds);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, cancel);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
}

std::string CurlFailure(const char* step, CURLcode code) {
  return std::string(step) + ": " + curl_easy_strerror(code);
}

}  // namespace

std::string DownloadFileName(const std::string& url) {
  const std::string path = url.substr(0, url.find_first_of("?#"));
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const bool plain = std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '.' || c == '_' || c == '-' || c == '+' || c == '~';
  });
  if (name.empty() || name.front() == '.' || !plain) return {};
  return name;
}

std::string FileSha256(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  std::unique_ptr<AVSHA, decltype(&av_free)> sha(av_sha_alloc(), &av_free);
  if (!file || !sha || av_sha_init(sha.get(), 256) < 0) return "";
  std::vector<std::uint8_t> block(1 << 16);
  size_t n;
  while ((n = std::fread(block.data(), 1, block.size(), file.get())) > 0) av_sha_update(sha.get(), block.data(), n);
  if (std::ferror(file.get())) return "";
  std::uint8_t digest[32];
  av_sha_final(sha.get(), digest);
  static const char* const kHex = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : digest) {
    text += kHex[byte >> 4];
    text += kHex[byte & 15];
  }
  return text;
}

std::string DownloadRequestUrl(const std::string& url) {
  return url.substr(0, url.find('#'));
}

int DownloadPercent(std::int64_t received, std::int64_t expected) {
  if (expected <= 0) return 0;
  return static_cast<int>(static_cast<float>(received) / static_cast<float>(expected) * 100.0f);
}

HttpDownload::HttpDownload(std::string url, std::string folder, MessageSink* sink, DownloadLimits limits)
    : url_(std::move(url)), folder_(std::move(folder)), sink_(sink), limits_(limits) {}

HttpDownload::~HttpDownload() {
  cancel_ = true;
  if (thread_.joinable()) thread_.join();
}

void HttpDownload::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

std::string HttpDownload::TargetPath() const {
  const std::string name = DownloadFileName(url_);
  return name.empty() ? name : folder_ + "/" + name;
}

void HttpDownload::Run() {
  auto record = std::make_unique<DownloadDoneRecord>();
  const std::string target = TargetPath();
  if (target.empty()) {
    record->reason = "the download address names no file: " + url_;
  } else {
    CreateFolderTree(folder_);
    const std::string part = target + ".part";
    record->result = Fetch(part, record->reason);
    if (record->result == DownloadResult::kComplete && !limits_.sha256.empty()) {
      std::string wanted = limits_.sha256;
      std::transform(wanted.begin(), wanted.end(), wanted.begin(), [](unsigned char c) { return std::tolower(c); });
      if (const std::string got = FileSha256(part); got != wanted) {
        record->result = DownloadResult::kFailed;
        record->reason = "the file's SHA-256 " + got + " is not the announced " + wanted;
      }
    }
    if (record->result == DownloadResult::kComplete && std::rename(part.c_str(), target.c_str()) != 0) {
      record->result = DownloadResult::kFailed;
      record->reason = "cannot rename " + part;
    }
    if (record->result == DownloadResult::kComplete)
      record->path = target;
    else
      std::remove(part.c_str());
  }
  if (record->result == DownloadResult::kFailed) LOG(ERROR) << "download failed: " << record->reason;
  if (sink_) sink_->Post(Message(WM_DOWNLOAD_DONE, std::move(record)));
}

DownloadResult HttpDownload::Fetch(const std::string& partPath, std::string& reason) {
  HttpClient::Instance();  // libcurl's global initialisation
  CurlSlistPtr headers = AppendHeader(nullptr, "Cache-Control: no-cache");
  if (headers) headers = AppendHeader(std::move(headers), "Pragma: no-cache");
  if (!headers) {
    reason = "out of memory";
    return DownloadResult::kFailed;
  }
  const std::string request = DownloadRequestUrl(url_);

  // 1. HEAD: the announced size.
  CurlEasyPtr head(curl_easy_init());
  if (!head) {
    reason = "curl_easy_init";
    return DownloadResult::kFailed;
  }
  SetCommon(head.get(), request, headers.get(), limits_, &cancel_);
  curl_easy_setopt(head.get(), CURLOPT_NOBODY, 1L);
  curl_easy_setopt(head.get(), CURLOPT_WRITEFUNCTION, DiscardBody);
  CURLcode code = curl_easy_perform(head.get());
  if (cancel_.load()) return DownloadResult::kCancelled;
  if (code != CURLE_OK) {
    reason = CurlFailure("HEAD", code);
    return DownloadResult::kFailed;
  }
  curl_off_t expected = -1;
  curl_easy_getinfo(head.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
  head.reset();
  if (expected <= 0) {
    reason = "the server announces no size";
    return DownloadResult::kFailed;
  }
  if (expected > limits_.maxBytes) {
    reason = "the announced size " + std::to_string(expected) + " is too large";
    return DownloadResult::kFailed;
  }

  // 2. GET into the temporary file.
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(partPath.c_str(), "wb"));
  if (!file) {
    reason = "cannot create " + partPath;
    return DownloadResult::kFailed;
  }
  CurlEasyPtr get(curl_easy_init());
  if (!get) {
    reason = "curl_easy_init";
    return DownloadResult::kFailed;
  }
  Transfer transfer;
  transfer.file = file.get();
  transfer.expected = expected;
  transfer.cancel = &cancel_;
  transfer.sink = sink_;
  SetCommon(get.get(), request, headers.get(), limits_, &cancel_);
  curl_easy_setopt(get.get(), CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(get.get(), CURLOPT_WRITEFUNCTION, WriteChunk);
  curl_easy_setopt(get.get(), CURLOPT_WRITEDATA, &transfer);
  code = curl_easy_perform(get.get());
  long status = 0;
  curl_easy_getinfo(get.get(), CURLINFO_RESPONSE_CODE, &status);
  const bool closed = std::fclose(file.release()) == 0;  // a full disk shows here at the latest
  if (cancel_.load()) return DownloadResult::kCancelled;
  if (transfer.tooLong) {
    reason = "the server sends more than the announced " + std::to_string(expected) + " bytes";
  } else if (transfer.writeFailed || !closed) {
    reason = "cannot write " + partPath;
  } else if (code != CURLE_OK) {
    reason = CurlFailure("GET", code);
  } else if (status != 200) {
    reason = "HTTP status " + std::to_string(status);
  } else if (transfer.received != expected) {
    reason = "received " + std::to_string(transfer.received) + " of " + std::to_string(expected) + " bytes";
  } else {
    return DownloadResult::kComplete;
  }
  return DownloadResult::kFailed;
}

}  // namespace tw
