// The feedback request: the user's comment and contact sent to the vendor's service as one
// JSON object, and what its reply means. SendFeedback blocks for the request (at most about
// 20 s); FeedbackSender runs it on a thread of its own and posts WM_FEEDBACK_DONE with the
// FeedbackResult as param. Building the body and reading the reply are pure, for tests.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <thread>

#include "app/MessageSink.h"

namespace tw {

enum class FeedbackResult {
  kSent = 0,          // "ret" 0: "反馈信息已提交!"
  kNetworkError = 1,  // no answer, or an answer that is not JSON: "网络错误!"
  kRefused = 2,       // JSON without "ret" 0: "未知错误"
};

// {"content": ..., "contact": ...}, indented, the texts as UTF-8 (not \u-escaped).
std::string MakeFeedbackBody(const std::string& contentUtf8, const std::string& contactUtf8);
FeedbackResult ReadFeedbackReply(std::string_view body);

// Posts the body to url; empty url (no service known) is a network error.
FeedbackResult SendFeedback(const std::string& url, const std::string& contentUtf8,
                            const std::string& contactUtf8);
// The vendor service's feedback address; empty when the build knows no service.
std::string FeedbackUrl();

// One send on its own thread; the destructor joins it (a send ends within its time-outs).
// Owner thread only.
class FeedbackSender {
 public:
  FeedbackSender() = default;
  ~FeedbackSender();
  FeedbackSender(const FeedbackSender&) = delete;
  FeedbackSender& operator=(const FeedbackSender&) = delete;

  // Sends and posts one WM_FEEDBACK_DONE to sink. False while a send is still running.
  bool Start(std::string url, std::string contentUtf8, std::string contactUtf8, MessageSink* sink);

 private:
  std::thread thread_;
  std::atomic<bool> running_{false};
};

}  // namespace tw
