// The installer download against a loopback server: names and request addresses, a complete
// download with its progress, every hostile reply, a cancel, and an unwritable folder. Nothing
// but a complete file may ever be left in the folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "app/Messages.h"
#include "net/HttpDownload.h"
#include "tests/support/QueueSink.h"
#include "tests/support/ServiceHttpServer.h"
#include "tests/support/TestMedia.h"
#include "tests/support/TlsServer.h"

namespace tw {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Installer(size_t size) {
  std::string bytes(size, '\0');
  std::mt19937 random(7);
  for (char& b : bytes) b = static_cast<char>(random());
  return bytes;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Outcome {
  DownloadResult result = DownloadResult::kFailed;
  std::string path;
  std::vector<int> percents;
};

Outcome Download(const std::string& url, const std::string& folder, DownloadLimits limits = {}) {
  test::QueueSink sink;
  HttpDownload download(url, folder, &sink, limits);
  download.Start();
  auto done = sink.WaitFor(WM_DOWNLOAD_DONE, 60s);
  Outcome outcome;
  if (!done) return outcome;
  outcome.result = done->As<DownloadDoneRecord>()->result;
  outcome.path = done->As<DownloadDoneRecord>()->path;
  for (const Message& m : sink.Drain())
    if (m.id == WM_DOWNLOAD_PROGRESS) outcome.percents.push_back(static_cast<int>(m.param));
  return outcome;
}

TEST(HttpDownloadTest, NamesAddressesAndPercents) {
  const std::vector<std::pair<std::string, std::string>> names = {
      {"http://h/a/setup.exe", "setup.exe"},
      {"https://h/tunewell-1.7.0.deb?channel=web", "tunewell-1.7.0.deb"},
      {"http://h/a+b~c_d.deb#part", "a+b~c_d.deb"},
      {"http://h/dir/", ""},
      {"http://h/..", ""},
      {"http://h/.", ""},
      {"http://h/.bashrc", ""},
      {"http://h/%2e%2e", ""},
      {"http://h/-rf $(x) 'a\".deb", ""},
      {"http://h/x;y.deb", ""},
      {"http://h/安装.exe", ""}};
  for (const auto& [url, name] : names) EXPECT_EQ(DownloadFileName(url), name) << url;
  EXPECT_EQ(DownloadRequestUrl("http://h:81/a/setup.exe?x=1#f"), "http://h:81/a/setup.exe?x=1");
  EXPECT_EQ(DownloadRequestUrl("http://h/a#f"), "http://h/a");
  const std::vector<std::tuple<std::int64_t, std::int64_t, int>> percents = {
      {0, 100, 0},       {1, 3, 33}, {999, 1000, 99},
      {1000, 1000, 100}, {5, 0, 0},  {3'000'000'000, 4'000'000'000, 75}};
  for (const auto& [received, expected, percent] : percents)
    EXPECT_EQ(DownloadPercent(received, expected), percent) << received << "/" << expected;
}

TEST(HttpDownloadTest, ACompleteDownloadHasItsNameProgressAndEveryByte) {
  const std::string body = Installer(300 * 1024);
  test::ServiceHttpServer server([&](const test::ServiceRequest&) { return test::ServiceReply{200, body}; });
  const std::string folder = test::TempDir() + "/Packmoor/Temp";
  // The announced SHA-256 (of the bytes as sha256sum reads them) holds, in either letter case.
  DownloadLimits limits;
  limits.sha256 = test::Sha256Of(body);
  std::transform(limits.sha256.begin(), limits.sha256.end(), limits.sha256.begin(), ::toupper);
  const Outcome outcome = Download(server.Base() + "/pkg/setup.exe?x=1", folder, limits);
  ASSERT_EQ(outcome.result, DownloadResult::kComplete);
  EXPECT_EQ(outcome.path, folder + "/setup.exe");
  EXPECT_EQ(ReadAll(outcome.path), body);
  EXPECT_EQ(test::FileNames(folder), std::vector<std::string>{"setup.exe"});
  ASSERT_FALSE(outcome.percents.empty());
  EXPECT_EQ(outcome.percents.back(), 100);
  EXPECT_TRUE(std::is_sorted(outcome.percents.begin(), outcome.percents.end()));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "HEAD");
  EXPECT_EQ(requests[1].method, "GET");
  for (const auto& r : requests) {
    EXPECT_EQ(r.target, "/pkg/setup.exe?x=1") << "a signed address keeps its query";
    EXPECT_EQ(r.Header("Cache-Control"), "no-cache");
  }
  // A second download of the same address replaces the file.
  EXPECT_EQ(Download(server.Base() + "/pkg/setup.exe?x=1", folder).result, DownloadResult::kComplete);
  EXPECT_EQ(ReadAll(outcome.path), body);
}

TEST(HttpDownloadTest, HostileRepliesFailAndLeaveNothing) {
  const std::string body = Installer(64 * 1024);
  struct Case {
    const char* name;
    std::function<test::ServiceReply(const test::ServiceRequest&)> answer;
    std::string path = "/setup.exe";
    DownloadLimits limits = {};
  };
  DownloadLimits stall;
  stall.stallSeconds = 1;
  DownloadLimits small;
  small.maxBytes = 1000;
  DownloadLimits otherSum;
  otherSum.sha256 = std::string(64, 'a');
  const std::vector<Case> cases = {
      {"no announced size",
       [&](const test::ServiceRequest&) {
         test::ServiceReply r{200, body};
         r.contentLength = false;
         return r;
       }},
      {"cut short",
       [&](const test::ServiceRequest&) {
         test::ServiceReply r{200, body};
         r.sendFraction = 0.6;
         return r;
       }},
      {"more than HEAD announced",
       [&](const test::ServiceRequest& q) {
         test::ServiceReply r{200, body};
         if (q.method == "HEAD") r.announcedLength = 1000;
         return r;
       }},
      {"less than HEAD announced",
       [&](const test::ServiceRequest& q) {
         test::ServiceReply r{200, body};
         if (q.method == "HEAD") r.announcedLength = static_cast<long long>(body.size()) + 5;
         return r;
       }},
      {"not found",
       [&](const test::ServiceRequest&) {
         return test::ServiceReply{404, "<html>missing</html>"};
       }},
      {"server error on GET only",
       [&](const test::ServiceRequest& q) {
         return q.method == "HEAD" ? test::ServiceReply{200, body} : test::ServiceReply{500, body};
       }},
      {"redirect loop",
       [&](const test::ServiceRequest&) {
         test::ServiceReply r{302, ""};
         r.headers = {"Location: /setup.exe"};
         return r;
       }},
      {"redirect to another scheme",
       [&](const test::ServiceRequest&) {
         test::ServiceReply r{302, ""};
         r.headers = {"Location: file:///etc/passwd"};
         return r;
       }},
      {"stalls after the headers",
       [&](const test::ServiceRequest& q) {
         test::ServiceReply r{200, body};
         if (q.method == "GET") r.hang = true;
         return r;
       },
       "/setup.exe", stall},
      {"larger than allowed",
       [&](const test::ServiceRequest&) {
         return test::ServiceReply{200, body};
       },
       "/setup.exe", small},
      {"names no file",
       [&](const test::ServiceRequest&) {
         return test::ServiceReply{200, body};
       },
       "/dir/"},
      {"not the announced SHA-256",
       [&](const test::ServiceRequest&) {
         return test::ServiceReply{200, body};
       },
       "/setup.exe", otherSum},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ServiceHttpServer server(c.answer);
    const std::string folder = test::TempDir() + "/Temp";
    const Outcome outcome = Download(server.Base() + c.path, folder, c.limits);
    EXPECT_EQ(outcome.result, DownloadResult::kFailed);
    EXPECT_EQ(outcome.path, "");
    EXPECT_EQ(test::FileNames(folder), std::vector<std::string>{});
  }
}

TEST(HttpDownloadTest, ARedirectIsFollowed) {
  const std::string body = Installer(10 * 1024);
  test::ServiceHttpServer server([&](const test::ServiceRequest& q) {
    if (q.target == "/setup.exe") {
      test::ServiceReply r{302, ""};
      r.headers = {"Location: /mirror/setup-1.6.2.exe"};
      return r;
    }
    return test::ServiceReply{200, body};
  });
  const std::string folder = test::TempDir();
  const Outcome outcome = Download(server.Base() + "/setup.exe", folder);
  ASSERT_EQ(outcome.result, DownloadResult::kComplete);
  EXPECT_EQ(outcome.path, folder + "/setup.exe");
  EXPECT_EQ(ReadAll(outcome.path), body);
}

TEST(HttpDownloadTest, ACancelledDownloadLeavesNothing) {
  const std::string body = Installer(400 * 1024);
  test::ServiceHttpServer server([&](const test::ServiceRequest&) {
    test::ServiceReply r{200, body};
    r.bytesPerSecond = 40 * 1024;  // ten seconds in all
    return r;
  });
  const std::string folder = test::TempDir();
  test::QueueSink sink;
  HttpDownload download(server.Base() + "/setup.exe", folder, &sink);
  download.Start();
  ASSERT_TRUE(sink.WaitFor(WM_DOWNLOAD_PROGRESS, 30s));
  download.Cancel();
  auto done = sink.WaitFor(WM_DOWNLOAD_DONE, 30s);
  ASSERT_TRUE(done);
  EXPECT_EQ(done->As<DownloadDoneRecord>()->result, DownloadResult::kCancelled);
  EXPECT_EQ(test::FileNames(folder), std::vector<std::string>{});
}

TEST(HttpDownloadTest, AFullDiskFailsAndLeavesNothing) {
  test::SmallDisk disk(64 * 1024);
  if (!disk.Ok()) GTEST_SKIP() << disk.Why();
  const std::string body = Installer(1 << 20);
  test::ServiceHttpServer server([&](const test::ServiceRequest&) { return test::ServiceReply{200, body}; });
  EXPECT_EQ(Download(server.Base() + "/setup.exe", disk.Path() + "/Temp").result, DownloadResult::kFailed);
  EXPECT_TRUE(fs::is_empty(disk.Path() + "/Temp"));
}

TEST(HttpDownloadTest, AnUnwritableFolderOrNoServerFails) {
  const std::string body = Installer(1024);
  test::ServiceHttpServer server([&](const test::ServiceRequest&) { return test::ServiceReply{200, body}; });
  const std::string blocker = test::TempDir() + "/file";
  std::ofstream(blocker) << "a file where the folder should be";
  EXPECT_EQ(Download(server.Base() + "/setup.exe", blocker + "/Temp").result, DownloadResult::kFailed);
  EXPECT_EQ(Download("http://127.0.0.1:9/setup.exe", test::TempDir()).result, DownloadResult::kFailed);
  // An https address whose certificate nobody vouches for is no source of an installer.
  test::TlsServer selfSigned(test::SelfSigned("IP:127.0.0.1"), "an installer");
  ASSERT_NE(selfSigned.Port(), 0);
  const std::string folder = test::TempDir();
  EXPECT_EQ(Download(selfSigned.Base() + "/setup.exe", folder).result, DownloadResult::kFailed);
  EXPECT_EQ(test::FileNames(folder), std::vector<std::string>{});
}

}  // namespace
}  // namespace tw
