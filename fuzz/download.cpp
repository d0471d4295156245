// The installer download against a server whose answers are the input: the HEAD reply (status
// line, headers, the announced size) and the GET reply (headers, body, a length that may
// disagree with the announcement). Whatever the server says, the download ends, and it leaves
// either the complete file under its name or nothing at all.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "app/Messages.h"
#include "fuzz/FuzzSupport.h"
#include "net/HttpDownload.h"
#include "tests/support/QueueSink.h"

namespace {

// A loopback server that answers each request, one connection at a time, with the reply the
// current input gives for its method, and closes the connection.
class ReplyServer {
 public:
  ReplyServer() {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FUZZ_CHECK(bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0);
    socklen_t len = sizeof addr;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    FUZZ_CHECK(listen(listen_, 8) == 0);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ReplyServer() {
    stop_ = true;
    thread_.join();
    close(listen_);
  }
  int Port() const { return port_; }
  void SetReplies(std::string head, std::string get) {
    std::lock_guard<std::mutex> hold(lock_);
    head_ = std::move(head);
    get_ = std::move(get);
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      Answer(client);
      close(client);
    }
  }
  void Answer(int client) {
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
      pollfd p{client, POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0) return;
      const ssize_t n = recv(client, buf, sizeof buf, 0);
      if (n <= 0) return;
      request.append(buf, static_cast<size_t>(n));
    }
    std::string reply;
    {
      std::lock_guard<std::mutex> hold(lock_);
      reply = request.rfind("HEAD ", 0) == 0 ? head_ : get_;
    }
    size_t sent = 0;
    while (sent < reply.size()) {
      const ssize_t n = send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    shutdown(client, SHUT_WR);
  }

  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::string head_, get_;
  std::thread thread_;
};

// Redirects stay on this server: a reply must not send the download out to the network.
std::string KeepRedirectsHere(const std::string& reply) {
  std::string out;
  size_t start = 0;
  while (start < reply.size()) {
    size_t end = reply.find('\n', start);
    end = end == std::string::npos ? reply.size() : end + 1;
    std::string line = reply.substr(start, end - start);
    std::string lower = line.substr(0, 9);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "location:") line = "Location: /again\r\n";
    out += line;
    start = end;
  }
  return out;
}

}  // namespace

TW_FUZZ_PARTS(in) {
  static ReplyServer server;
  std::string name = in.ConsumeRandomLengthString(24);
  for (char& c : name)
    if (c == '/' || c == '\0') c = '_';
  const std::string head = KeepRedirectsHere(in.ConsumeRandomLengthString(512));
  const std::string get = KeepRedirectsHere(in.ConsumeRemainingBytesAsString());
  server.SetReplies(head, get);

  const std::string folder = tw::fuzz::ScratchDir() + "/download";
  std::filesystem::remove_all(folder);
  const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/" + name;
  tw::test::QueueSink sink;
  tw::DownloadLimits limits;
  limits.maxBytes = 1 << 20;
  limits.connectTimeoutMs = 1000;
  limits.stallSeconds = 2;
  {
    tw::HttpDownload download(url, folder, &sink, limits);
    download.Start();
    auto done = sink.WaitFor(tw::WM_DOWNLOAD_DONE, std::chrono::seconds(20));
    FUZZ_CHECK(done.has_value() && "the download did not end");
    const auto* record = done->As<tw::DownloadDoneRecord>();
    FUZZ_CHECK(record);
    size_t files = 0;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
      (void)entry;
      ++files;
    }
    if (record->result == tw::DownloadResult::kComplete) {
      FUZZ_CHECK(files == 1 && record->path == download.TargetPath());
      FUZZ_CHECK(std::filesystem::file_size(record->path) > 0);
    } else {
      FUZZ_CHECK(files == 0 && "a failed download left a file");
    }
  }
  for (const tw::Message& m : sink.Drain()) FUZZ_CHECK(m.param >= 0 && m.param <= 100);
  (void)tw::DownloadFileName(name);
  (void)tw::DownloadRequestUrl(name);
  return 0;
}
