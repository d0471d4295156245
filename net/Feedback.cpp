#include "net/Feedback.h"

#include <json/json.h>

#include <memory>

#include "app/Messages.h"
#include "net/HttpClient.h"
#include "net/VendorService.h"

namespace tw {

std::string MakeFeedbackBody(const std::string& contentUtf8, const std::string& contactUtf8) {
  Json::Value root(Json::objectValue);
  root["content"] = contentUtf8;
  root["contact"] = contactUtf8;
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "   ";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, root);
}

FeedbackResult ReadFeedbackReply(std::string_view body) {
  Json::CharReaderBuilder builder;
  builder["stackLimit"] = 64;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  bool parsed = false;
  try {
    parsed = !body.empty() && reader->parse(body.data(), body.data() + body.size(), &root, &errors);
  } catch (const std::exception&) {  // the nesting limit throws
  }
  if (!parsed) return FeedbackResult::kNetworkError;
  if (!root.isObject()) return FeedbackResult::kRefused;
  const Json::Value& ret = root["ret"];
  return ret.isIntegral() && ret.asLargestInt() == 0 ? FeedbackResult::kSent : FeedbackResult::kRefused;
}

FeedbackResult SendFeedback(const std::string& url, const std::string& contentUtf8,
                            const std::string& contactUtf8) {
  if (url.empty()) return FeedbackResult::kNetworkError;
  const std::string body = MakeFeedbackBody(contentUtf8, contactUtf8);
  std::string response;
  HttpClient::Instance().PostJson(url, body, response);  // a failure leaves the body empty
  return ReadFeedbackReply(response);
}

std::string FeedbackUrl() {
  return ServiceUrl(kFeedbackPath);
}

FeedbackSender::~FeedbackSender() {
  if (thread_.joinable()) thread_.join();
}

bool FeedbackSender::Start(std::string url, std::string contentUtf8, std::string contactUtf8,
                           MessageSink* sink) {
  if (running_.load()) return false;
  if (thread_.joinable()) thread_.join();  // the previous send has posted and is ending
  running_ = true;
  thread_ = std::thread(
      [this, url = std::move(url), content = std::move(contentUtf8), contact = std::move(contactUtf8), sink] {
        const FeedbackResult result = SendFeedback(url, content, contact);
        running_ = false;
        PostValue(sink, WM_FEEDBACK_DONE, static_cast<int>(result));
      });
  return true;
}

}  // namespace tw
