// The vendor service's replies (the upgrade check and the feedback) and the feedback body this
// program sends: any reply gives one of the documented outcomes, an offered upgrade always has
// an http(s) address and a newer version, and the body carries the user's texts unchanged.
#include <json/json.h>

#include <memory>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "net/Feedback.h"
#include "net/UpgradeCheck.h"

namespace {

bool ValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) >= s.size()) return false;
    unsigned cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const unsigned char d = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
      if ((d >> 6) != 2) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    const unsigned minimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += static_cast<size_t>(extra) + 1;
  }
  return true;
}

}  // namespace

TW_FUZZ_PARTS(in) {
  const std::string local = in.ConsumeRandomLengthString(24);
  const std::string content = in.ConsumeRandomLengthString(256);
  const std::string contact = in.ConsumeRandomLengthString(64);
  const std::string body = in.ConsumeRemainingBytesAsString();

  const tw::UpgradeReply reply = tw::ReadUpgradeReply(body, local);
  if (reply.status == tw::UpgradeStatus::kUpdate) {
    FUZZ_CHECK(reply.downloadUrl.rfind("http://", 0) == 0 || reply.downloadUrl.rfind("https://", 0) == 0);
    FUZZ_CHECK(tw::IsNewerVersion(tw::ParseVersion(reply.version), tw::ParseVersion(local)));
  }
  const tw::FeedbackResult feedback = tw::ReadFeedbackReply(body);
  FUZZ_CHECK(feedback == tw::FeedbackResult::kSent || feedback == tw::FeedbackResult::kNetworkError ||
             feedback == tw::FeedbackResult::kRefused);
  if (body.empty()) FUZZ_CHECK(feedback == tw::FeedbackResult::kNetworkError);

  // The body is JSON that gives back both texts as they were typed.
  const std::string sent = tw::MakeFeedbackBody(content, contact);
  if (ValidUtf8(content) && ValidUtf8(contact)) {
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    FUZZ_CHECK(reader->parse(sent.data(), sent.data() + sent.size(), &root, &errors));
    FUZZ_CHECK(root["content"].asString() == content);
    FUZZ_CHECK(root["contact"].asString() == contact);
  }
  return 0;
}
