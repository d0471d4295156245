#include "net/UpgradeCheck.h"

#include <json/json.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "net/HttpClient.h"
#include "net/VendorService.h"

namespace tw {
namespace {

// "force_upgrade" comes as a number or as decimal text.
bool ReadMandatory(const Json::Value& value) {
  if (value.isBool()) return value.asBool();
  if (value.isIntegral()) return value.asLargestInt() != 0;
  if (value.isDouble()) return value.asDouble() != 0.0;
  if (value.isString()) return LeadingInt(value.asString()) != 0;
  return false;
}

bool ParseJson(std::string_view body, Json::Value& root) {
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  builder["stackLimit"] = 64;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  try {
    return reader->parse(body.data(), body.data() + body.size(), &root, &errors);
  } catch (const std::exception&) {  // the nesting limit throws
    return false;
  }
}

bool IsHttpAddress(const std::string& url) {
  return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
}

}  // namespace

VersionNumbers ParseVersion(std::string_view text) {
  VersionNumbers numbers{0, 0, 0};
  const auto pieces = SplitText(text, ".");
  for (size_t i = 0; i < numbers.size() && i < pieces.size(); ++i) numbers[i] = LeadingInt(pieces[i]);
  return numbers;
}

bool IsNewerVersion(const VersionNumbers& remote, const VersionNumbers& local) {
  if (remote[0] != local[0]) return remote[0] > local[0];
  if (remote[1] != local[1]) return remote[1] > local[1];
  return remote[2] > local[2];
}

UpgradeReply ReadUpgradeReply(std::string_view body, std::string_view localVersion) {
  UpgradeReply reply;
  reply.status = UpgradeStatus::kBadReply;
  Json::Value root;
  if (!ParseJson(body, root) || !root.isObject()) return reply;
  const Json::Value& ret = root["ret"];
  if (!ret.isIntegral() || ret.asLargestInt() != 0) return reply;
  const Json::Value& data = root["data"];
  if (!data.isObject() || !data["app_version"].isString()) return reply;
  reply.version = data["app_version"].asString();

  const VersionNumbers remote = ParseVersion(reply.version);
  const VersionNumbers local = ParseVersion(localVersion);
  std::printf("routeMajorVersion: %lld routeMinorVersion: %lld routeRevisionVersion: %lld\n", remote[0],
              remote[1], remote[2]);
  std::printf("localMajorVersion: %lld localMinorVersion: %lld localRevisionVersion: %lld\n", local[0],
              local[1], local[2]);
  if (!IsNewerVersion(remote, local)) {
    reply.status = UpgradeStatus::kNoUpdate;
    return reply;
  }
  // An offer needs an address this program may fetch.
  const Json::Value& url = data["download_url"];
  if (!url.isString() || !IsHttpAddress(url.asString())) return reply;
  reply.downloadUrl = url.asString();
  reply.mandatory = ReadMandatory(data["force_upgrade"]);
  if (const Json::Value& sha = data["sha256"]; sha.isString() && sha.asString().size() == 64) {
    std::string digest = sha.asString();
    std::transform(digest.begin(), digest.end(), digest.begin(), [](unsigned char c) { return std::tolower(c); });
    if (digest.find_first_not_of("0123456789abcdef") == std::string::npos) reply.sha256 = digest;
  }
  reply.status = UpgradeStatus::kUpdate;
  return reply;
}

std::string UpgradeCheckUrl() {
  const std::string url = ServiceUrl(kUpgradeCheckPath);
  return url.empty() ? url : url + MakeTimestampQuery();
}

UpgradeReply CheckForUpgrade(const std::string& checkUrl, const std::atomic<bool>* cancel) {
  const std::string body = kUpgradeRequestBody;
  std::printf("message: %s\n", body.c_str());
  std::fflush(stdout);
  UpgradeReply reply;
  if (checkUrl.empty()) return reply;
  std::string response;
  HttpRequestOptions options;
  options.cancel = cancel;
  if (HttpClient::Instance().PostJson(checkUrl, body, response, options) != 0) return reply;
  std::printf("response: %s\n", response.c_str());
  reply = ReadUpgradeReply(response);
  std::fflush(stdout);
  return reply;
}

UpgradeChecker::~UpgradeChecker() {
  cancel_ = true;
  Join();
}

void UpgradeChecker::Join() {
  if (thread_.joinable()) thread_.join();
}

bool UpgradeChecker::Start(const std::string& checkUrl, bool notifyNoUpdate, MessageSink* sink) {
  if (running_.load()) return false;
  Join();  // the previous check has posted and is ending
  running_ = true;
  cancel_ = false;
  thread_ = std::thread([this, checkUrl, notifyNoUpdate, sink] {
    auto record = std::make_unique<UpgradeCheckRecord>();
    record->reply = CheckForUpgrade(checkUrl, &cancel_);
    record->notifyNoUpdate = notifyNoUpdate;
    running_ = false;
    if (!cancel_.load() && sink) sink->Post(Message(WM_UPGRADE_CHECKED, std::move(record)));
  });
  return true;
}

}  // namespace tw
