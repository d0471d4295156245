// PostJson against a loopback server: the request as the server sees it, what counts as an
// answer (any status with a body) and every way a reply can go wrong.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "net/HttpClient.h"
#include "tests/support/ServiceHttpServer.h"
#include "tests/support/TestMedia.h"

extern char** environ;

namespace tw {
namespace {

TEST(HttpClientTest, SendsTheBodyWithItsTwoHeaders) {
  test::ServiceHttpServer server([](const test::ServiceRequest&) {
    return test::ServiceReply{200, "{\"ret\":0}"};
  });
  // Long enough for libcurl to ask "Expect: 100-continue" first.
  const std::string body = "{\"content\":\"" + std::string(3000, 'x') + "\",\"q\":\"\\\"'$(x)\"}";
  std::string response;
  ASSERT_EQ(HttpClient::Instance().PostJson(server.Base() + "/v2/feedback", body, response), 0);
  EXPECT_EQ(response, "{\"ret\":0}");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/v2/feedback");
  EXPECT_EQ(requests[0].body, body);
  EXPECT_EQ(requests[0].Header("Accept"), "application/json");
  EXPECT_EQ(requests[0].Header("Content-Type"), "application/json;charset=UTF-8");
  EXPECT_EQ(requests[0].Header("User-Agent"), "");
}

TEST(HttpClientTest, AnyStatusWithABodyIsAnAnswerAndEveryFailureIsMinusOne) {
  struct Case {
    const char* name;
    test::ServiceReply reply;
    int result;
    std::string response;
  };
  test::ServiceReply huge{200, std::string((1 << 20) + 10, 'a')};
  test::ServiceReply truncated{200, "{\"ret\":0,\"data\":{}}"};
  truncated.sendFraction = 0.5;
  test::ServiceReply redirect{302, ""};
  redirect.headers = {"Location: /v2/feedback"};
  const std::vector<Case> cases = {
      {"404 with a body", {404, "not here"}, 0, "not here"},
      {"500 with a body", {500, "{\"ret\":1}"}, 0, "{\"ret\":1}"},
      {"200 without a body", {200, ""}, -1, ""},
      {"a body beyond the limit", huge, -1, ""},
      {"a body cut short", truncated, -1, ""},
      {"a redirect (to itself) is not followed", redirect, -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ServiceHttpServer server([&](const test::ServiceRequest&) { return c.reply; });
    std::string response = "stale";
    EXPECT_EQ(HttpClient::Instance().PostJson(server.Base() + "/v2/feedback", "{}", response), c.result);
    EXPECT_EQ(response, c.response);
    EXPECT_EQ(server.Requests().size(), 1u);
  }
}

TEST(HttpClientTest, NoServerNoAddressAndOtherSchemesFail) {
  std::string response;
  // Port 9 on loopback: nothing listens, the connection is refused at once.
  EXPECT_EQ(HttpClient::Instance().PostJson("http://127.0.0.1:9/v2/feedback", "{}", response), -1);
  EXPECT_EQ(HttpClient::Instance().PostJson("", "{}", response), -1);
  EXPECT_EQ(HttpClient::Instance().PostJson("file:///etc/passwd", "{}", response), -1);
  EXPECT_TRUE(response.empty());
}

TEST(HttpClientTest, ASilentServerEndsInTheTimeOutAndCancelEndsItSooner) {
  test::ServiceReply silent;
  silent.hang = true;
  test::ServiceHttpServer server([&](const test::ServiceRequest&) { return silent; });
  HttpRequestOptions options;
  options.totalTimeoutMs = 500;
  std::string response;
  EXPECT_EQ(HttpClient::Instance().PostJson(server.Base() + "/x", "{}", response, options), -1);

  std::atomic<bool> cancel{false};
  HttpRequestOptions cancellable;  // the full 10 s, ended by the flag
  cancellable.cancel = &cancel;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    cancel = true;
  });
  EXPECT_EQ(HttpClient::Instance().PostJson(server.Base() + "/x", "{}", response, cancellable), -1);
  stopper.join();
}

// An HTTPS service with a self-signed certificate: openssl makes the certificate, Python's
// TLS server answers every POST with {"ret":0} and writes its port to a file.
TEST(HttpClientTest, ASelfSignedCertificateIsAccepted) {
  const std::string dir = test::TempDir();
  if (test::RunProcess({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                        dir + "/key.pem", "-out", dir + "/cert.pem", "-days", "1", "-subj",
                        "/CN=tunewell-test"}) != 0)
    GTEST_SKIP() << "no openssl";
  const std::string script =
      "import http.server, ssl, sys\n"
      "class H(http.server.BaseHTTPRequestHandler):\n"
      "    def do_POST(self):\n"
      "        self.rfile.read(int(self.headers.get('Content-Length', 0)))\n"
      "        b = b'{\"ret\":0}'\n"
      "        self.send_response(200); self.send_header('Content-Length', str(len(b))); self.end_headers()\n"
      "        self.wfile.write(b)\n"
      "s = http.server.HTTPServer(('127.0.0.1', 0), H)\n"
      "c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER); c.load_cert_chain(sys.argv[1] + '/cert.pem', sys.argv[1] "
      "+ "
      "'/key.pem')\n"
      "s.socket = c.wrap_socket(s.socket, server_side=True)\n"
      "open(sys.argv[1] + '/port.tmp', 'w').write(str(s.server_address[1]))\n"
      "import os; os.rename(sys.argv[1] + '/port.tmp', sys.argv[1] + '/port')\n"
      "s.timeout = 20; s.handle_request()\n";
  std::vector<std::string> args = {"python3", "-c", script, dir};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, "python3", nullptr, nullptr, argv.data(), environ) != 0)
    GTEST_SKIP() << "no python3";
  int port = 0;
  for (int i = 0; i < 200 && !port; ++i) {
    std::ifstream(dir + "/port") >> port;
    if (!port) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::string response;
  const int result = port ? HttpClient::Instance().PostJson(
                                "https://127.0.0.1:" + std::to_string(port) + "/v2/feedback", "{}", response)
                          : -2;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  ASSERT_NE(port, 0) << "the TLS server did not start";
  EXPECT_EQ(result, 0);
  EXPECT_EQ(response, "{\"ret\":0}");
}

TEST(HttpClientTest, ManyThreadsShareTheClient) {
  test::ServiceHttpServer server([](const test::ServiceRequest& r) {
    return test::ServiceReply{200, r.body};
  });
  std::vector<std::thread> threads;
  std::atomic<int> answered{0};
  for (int i = 0; i < 6; ++i)
    threads.emplace_back([&, i] {
      std::string response;
      const std::string body = "{\"n\":" + std::to_string(i) + "}";
      if (HttpClient::Instance().PostJson(server.Base() + "/echo", body, response) == 0 && response == body)
        ++answered;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(answered.load(), 6);
}

}  // namespace
}  // namespace tw
