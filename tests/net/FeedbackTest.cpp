// The feedback request: the body as the service receives it (CJK text, quotes, newlines, shell
// characters) and what each reply means.
#include <gtest/gtest.h>
#include <json/json.h>

#include "app/Messages.h"
#include "net/Feedback.h"
#include "tests/support/QueueSink.h"
#include "tests/support/ServiceHttpServer.h"

namespace tw {
namespace {

TEST(FeedbackTest, TheServiceReceivesTheTextsAsUtf8Json) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"声音很好听,谢谢!", "qq 12345"},
      {"He said \"cut\" \\ 'here'\nand $(rm -rf x) `y`", "-a@b.c"},
      {std::string("tab\tand control \x01 chars"), "电话: 138 0000 0000"},
      {std::string(5000, 'x'), "long"},
  };
  for (const auto& [content, contact] : cases) {
    test::ServiceHttpServer server([](const test::ServiceRequest&) {
      return test::ServiceReply{200, "{\"ret\":0}"};
    });
    EXPECT_EQ(SendFeedback(server.Base() + "/v2/feedback", content, contact), FeedbackResult::kSent);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/v2/feedback");
    Json::Value root;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::istringstream in(requests[0].body);
    ASSERT_TRUE(Json::parseFromStream(builder, in, &root, &errors)) << requests[0].body;
    EXPECT_EQ(root["content"].asString(), content);
    EXPECT_EQ(root["contact"].asString(), contact);
    EXPECT_EQ(root.size(), 2u);
  }
  // Non-ASCII text travels as UTF-8 bytes, not as \u escapes, in an indented object.
  const std::string body = MakeFeedbackBody("音频", "微信");
  EXPECT_NE(body.find("\"content\" : \"音频\""), std::string::npos) << body;
  EXPECT_NE(body.find('\n'), std::string::npos);
}

TEST(FeedbackTest, EachReplyHasItsResult) {
  struct Case {
    const char* name;
    test::ServiceReply reply;
    FeedbackResult result;
  };
  test::ServiceReply cut{200, "{\"ret\":0, \"msg\":\"ok\"}"};
  cut.sendFraction = 0.5;
  const std::vector<Case> cases = {
      {"accepted", {200, "{\"ret\":0}"}, FeedbackResult::kSent},
      {"refused", {200, "{\"ret\":3,\"msg\":\"bad\"}"}, FeedbackResult::kRefused},
      {"ret as text", {200, "{\"ret\":\"0\"}"}, FeedbackResult::kRefused},
      {"an array", {200, "[1,2]"}, FeedbackResult::kRefused},
      {"server error page", {500, "<html>Internal Server Error</html>"}, FeedbackResult::kNetworkError},
      {"server error JSON", {500, "{\"ret\":500}"}, FeedbackResult::kRefused},
      {"empty answer", {200, ""}, FeedbackResult::kNetworkError},
      {"cut off", cut, FeedbackResult::kNetworkError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ServiceHttpServer server([&](const test::ServiceRequest&) { return c.reply; });
    EXPECT_EQ(SendFeedback(server.Base() + "/v2/feedback", "a", "b"), c.result);
  }
  EXPECT_EQ(SendFeedback("", "a", "b"), FeedbackResult::kNetworkError) << "no service known";
  EXPECT_EQ(SendFeedback("http://127.0.0.1:9/v2/feedback", "a", "b"), FeedbackResult::kNetworkError);
}

TEST(FeedbackTest, TheSenderPostsItsResult) {
  test::ServiceHttpServer server([](const test::ServiceRequest&) {
    return test::ServiceReply{200, "{\"ret\":0}"};
  });
  test::QueueSink sink;
  FeedbackSender sender;
  ASSERT_TRUE(sender.Start(server.Base() + "/v2/feedback", "内容", "联系", &sink));
  auto done = sink.WaitFor(WM_FEEDBACK_DONE);
  ASSERT_TRUE(done);
  EXPECT_EQ(done->param, static_cast<int>(FeedbackResult::kSent));
  ASSERT_TRUE(sender.Start(server.Base() + "/v2/feedback", "again", "x", &sink));
  ASSERT_TRUE(sink.WaitFor(WM_FEEDBACK_DONE));
  EXPECT_EQ(server.Requests().size(), 2u);
}

}  // namespace
}  // namespace tw
