// PostJson against a loopback server: the request as the server sees it, what counts as an
// answer (any status with a body) and every way a reply can go wrong.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "net/HttpClient.h"
#include "tests/support/Process.h"
#include "tests/support/ServiceHttpServer.h"
#include "tests/support/TlsServer.h"

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

  // The full 10 s time-out, ended by the flag once the server holds the request: the call must
  // return long before the time-out could have ended it.
  std::atomic<bool> cancel{false};
  HttpRequestOptions cancellable;
  cancellable.cancel = &cancel;
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    HttpClient::Instance().PostJson(server.Base() + "/x", "{}", response, cancellable);
    returned = true;
  });

  ASSERT_TRUE(test::PollUntil([&] { return server.Requests().size() == 2; }, std::chrono::seconds(5)));
  cancel = true;
  EXPECT_TRUE(test::PollUntil([&] { return returned.load(); }, std::chrono::seconds(5)))
      << "cancel did not end the call";
  caller.join();
  EXPECT_TRUE(response.empty());
}

// HTTPS addresses are verified: the certificate must lead to a trusted authority and name the
// host. The tests trust an authority of their own through caFile.
TEST(HttpClientTest, HttpsNeedsATrustedCertificateForTheHost) {
  test::TestAuthority authority;
  ASSERT_TRUE(authority.Ok()) << "openssl could not make a test authority";
  const struct {
    const char* name;
    test::CertificateFiles certificate;
    bool trustTestAuthority;
    int result;
  } cases[] = {
      {"issued for the host by a trusted authority", authority.Issue("IP:127.0.0.1"), true, 0},
      {"issued for another host", authority.Issue("DNS:wrong.example"), true, -1},
      {"from an authority the client does not trust", authority.Issue("IP:127.0.0.1"), false, -1},
      {"self-signed", test::SelfSigned("IP:127.0.0.1"), true, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.certificate.ok);
    test::TlsServer server(c.certificate, "{\"ret\":0}");
    ASSERT_NE(server.Port(), 0) << "the TLS server did not start";
    HttpRequestOptions options;
    if (c.trustTestAuthority) options.caFile = authority.CaFile();
    std::string response;
    EXPECT_EQ(HttpClient::Instance().PostJson(server.Base() + "/v2/feedback", "{}", response, options),
              c.result);
    EXPECT_EQ(response, c.result == 0 ? "{\"ret\":0}" : "");
  }
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
