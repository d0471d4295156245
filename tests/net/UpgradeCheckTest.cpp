// The upgrade check: version comparison, the reading of every kind of reply (good, hostile,
// of the wrong types), the request as the service receives it, and the checker thread.
#include <gtest/gtest.h>

#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "net/UpgradeCheck.h"
#include "net/VendorService.h"
#include "tests/support/QueueSink.h"
#include "tests/support/ServiceHttpServer.h"
#include "tests/support/TestEnv.h"

namespace tw {
namespace {

// The settings of this process live in a private home.
const std::string kHome = test::PrivateHome();

std::string Reply(const std::string& version, const std::string& force = "0",
                  const std::string& url = "\"http://127.0.0.1:9/setup.exe\"") {
  return "{\"ret\":0,\"data\":{\"app_version\":\"" + version + "\",\"download_url\":" + url +
         ",\"force_upgrade\":" + force + "}}";
}

TEST(UpgradeCheckTest, VersionsCompareByMajorMinorRevision) {
  struct Case {
    const char* remote;
    bool newer;
  };
  const std::vector<Case> cases = {{"1.6.1", false}, {"1.6.2", true},   {"1.7.0", true},  {"2.0.0", true},
                                   {"1.5.9", false}, {"0.9.9", false},  {"1.6.0", false}, {"1.6", false},
                                   {"1.7", true},    {"", false},       {"x.y.z", false}, {"1.6.1.9", false},
                                   {"1..7", true},   {"01.06.02", true}};
  for (const Case& c : cases)
    EXPECT_EQ(IsNewerVersion(ParseVersion(c.remote), ParseVersion(kOwnVersion)), c.newer) << c.remote;
  EXPECT_EQ(ParseVersion("3.2"), (VersionNumbers{3, 2, 0}));
}

TEST(UpgradeCheckTest, RepliesAreReadSafely) {
  struct Case {
    const char* name;
    std::string body;
    UpgradeStatus status;
    bool mandatory = false;
  };
  const std::vector<Case> cases = {
      {"same version", Reply("1.6.1"), UpgradeStatus::kNoUpdate},
      {"newer, optional", Reply("1.6.2"), UpgradeStatus::kUpdate, false},
      {"newer, mandatory as a number", Reply("1.7.0", "1"), UpgradeStatus::kUpdate, true},
      {"newer, mandatory as text", Reply("2.0.0", "\"1\""), UpgradeStatus::kUpdate, true},
      {"newer, \"0\" as text", Reply("2.0.0", "\"0\""), UpgradeStatus::kUpdate, false},
      {"newer, force_upgrade missing",
       "{\"ret\":0,\"data\":{\"app_version\":\"1.7.0\",\"download_url\":\"http://h/a\"}}",
       UpgradeStatus::kUpdate, false},
      {"newer, force_upgrade an object", Reply("1.7.0", "{}"), UpgradeStatus::kUpdate, false},
      {"ret not 0", "{\"ret\":1,\"data\":{\"app_version\":\"9.0.0\"}}", UpgradeStatus::kBadReply},
      {"ret as text", "{\"ret\":\"0\",\"data\":{\"app_version\":\"9.0.0\"}}", UpgradeStatus::kBadReply},
      {"ret missing", "{\"data\":{\"app_version\":\"9.0.0\"}}", UpgradeStatus::kBadReply},
      {"not JSON", "<html>502 Bad Gateway</html>", UpgradeStatus::kBadReply},
      {"cut off", Reply("1.7.0").substr(0, 30), UpgradeStatus::kBadReply},
      {"an array", "[0]", UpgradeStatus::kBadReply},
      {"data a string", "{\"ret\":0,\"data\":\"1.7.0\"}", UpgradeStatus::kBadReply},
      {"app_version a number", "{\"ret\":0,\"data\":{\"app_version\":1.7}}", UpgradeStatus::kBadReply},
      {"download_url a number", Reply("1.7.0", "0", "7"), UpgradeStatus::kBadReply},
      {"download_url not http", Reply("1.7.0", "0", "\"file:///bin/sh\""), UpgradeStatus::kBadReply},
      {"deeply nested", std::string(10000, '[') + std::string(10000, ']'), UpgradeStatus::kBadReply},
      {"a version beyond 64 bits", Reply("99999999999999999999999.0.0"), UpgradeStatus::kUpdate, false},
      {"a negative version", Reply("-2.0.0"), UpgradeStatus::kNoUpdate},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const UpgradeReply reply = ReadUpgradeReply(c.body);
    EXPECT_EQ(reply.status, c.status);
    if (c.status == UpgradeStatus::kUpdate) {
      EXPECT_EQ(reply.mandatory, c.mandatory);
      EXPECT_FALSE(reply.downloadUrl.empty());
    }
  }
  EXPECT_EQ(ReadUpgradeReply(Reply("1.6.2")).downloadUrl, "http://127.0.0.1:9/setup.exe");
  // The installer's SHA-256 beside the address: 64 hex digits, kept in lower case; else none.
  const std::string sum(64, 'A');
  for (const auto& [given, kept] : std::vector<std::pair<std::string, std::string>>{
           {"\"" + sum + "\"", std::string(64, 'a')}, {"\"" + sum.substr(1) + "\"", ""},
           {"\"" + std::string(63, 'a') + "g\"", ""}, {"7", ""}}) {
    std::string body = Reply("1.6.2");
    body.insert(body.rfind("}}"), ",\"sha256\":" + given);
    EXPECT_EQ(ReadUpgradeReply(body).sha256, kept) << given;
  }
}

TEST(UpgradeCheckTest, TheServiceReceivesTheFixedRequest) {
  test::ServiceHttpServer server([](const test::ServiceRequest&) {
    return test::ServiceReply{200, Reply("1.6.2", "1")};
  });
  const UpgradeReply reply = CheckForUpgrade(server.Base() + "/v2/upgrade_check?timestamp=1");
  EXPECT_EQ(reply.status, UpgradeStatus::kUpdate);
  EXPECT_TRUE(reply.mandatory);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/v2/upgrade_check?timestamp=1");
  EXPECT_EQ(requests[0].body, "{\"app_name\":\"Tunewell\"}");
}

TEST(UpgradeCheckTest, TheAddressComesFromTheSettings) {
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyServiceUrl, "");
  EXPECT_EQ(UpgradeCheckUrl(), "") << "this build knows no service";
  EXPECT_EQ(CheckForUpgrade(UpgradeCheckUrl()).status, UpgradeStatus::kNetworkError);
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyServiceUrl, "http://127.0.0.1:9/");
  const std::string url = UpgradeCheckUrl();
  EXPECT_EQ(url.rfind("http://127.0.0.1:9/v2/upgrade_check?timestamp=", 0), 0u) << url;
  EXPECT_EQ(JoinUrl("http://h", "/a"), "http://h/a");
  EXPECT_EQ(JoinUrl("http://h//", "a"), "http://h/a");
  EXPECT_EQ(JoinUrl("", "/a"), "");
}

TEST(UpgradeCheckTest, TheCheckerPostsOneRecordAndRunsOneCheckAtATime) {
  struct Case {
    const char* name;
    test::ServiceReply reply;
    UpgradeStatus status;
  };
  const std::vector<Case> cases = {
      {"update", {200, Reply("1.6.2")}, UpgradeStatus::kUpdate},
      {"nothing new", {200, Reply("1.6.1")}, UpgradeStatus::kNoUpdate},
      {"server error", {500, "Internal Server Error"}, UpgradeStatus::kBadReply},
      {"empty answer", {200, ""}, UpgradeStatus::kNetworkError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ServiceHttpServer server([&](const test::ServiceRequest&) { return c.reply; });
    test::QueueSink sink;
    UpgradeChecker checker;
    ASSERT_TRUE(checker.Start(server.Base() + "/v2/upgrade_check", true, &sink));
    auto message = sink.WaitFor(WM_UPGRADE_CHECKED);
    ASSERT_TRUE(message);
    auto* record = message->As<UpgradeCheckRecord>();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->reply.status, c.status);
    EXPECT_TRUE(record->notifyNoUpdate);
  }
  // A second start while one runs is refused; destroying the checker ends the running one.
  test::ServiceReply silent;
  silent.hang = true;
  test::ServiceHttpServer server([&](const test::ServiceRequest&) { return silent; });
  test::QueueSink sink;
  {
    UpgradeChecker checker;
    ASSERT_TRUE(checker.Start(server.Base() + "/v2/upgrade_check", false, &sink));
    EXPECT_FALSE(checker.Start(server.Base() + "/v2/upgrade_check", true, &sink));
  }
  EXPECT_EQ(sink.Count(WM_UPGRADE_CHECKED), 0u) << "a stopped check reports nothing";
}

}  // namespace
}  // namespace tw
