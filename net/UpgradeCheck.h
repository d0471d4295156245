// The upgrade check: asks the vendor's service for the newest version and says whether it is
// newer than this one. CheckForUpgrade blocks its thread for the request (at most about 20 s);
// UpgradeChecker runs it on a thread of its own and posts WM_UPGRADE_CHECKED with an
// UpgradeCheckRecord. The reading of the reply is pure, for tests.
#pragma once

#include <array>
#include <atomic>
#include <string>
#include <string_view>
#include <thread>

#include "app/MessageSink.h"

namespace tw {

inline constexpr const char* kOwnVersion = "1.6.1";
inline constexpr const char* kUpgradeRequestBody = "{\"app_name\":\"Tunewell\"}";

using VersionNumbers = std::array<long long, 3>;  // major, minor, revision

// The first three "."-pieces read as base-10 integers; a missing piece counts as 0.
VersionNumbers ParseVersion(std::string_view text);
// True when remote is a later version than local.
bool IsNewerVersion(const VersionNumbers& remote, const VersionNumbers& local);

enum class UpgradeStatus {
  kNetworkError,  // no answer (no service, no connection, time-out, empty body)
  kBadReply,      // not JSON, "ret" not 0, or members missing or of the wrong type
  kNoUpdate,      // the service's version is not newer
  kUpdate,        // a newer version: downloadUrl and mandatory are set
};

struct UpgradeReply {
  UpgradeStatus status = UpgradeStatus::kNetworkError;
  std::string version;      // "data"."app_version"
  std::string downloadUrl;  // "data"."download_url", an http or https address
  bool mandatory = false;   // "data"."force_upgrade" not 0
  // "data"."sha256": the installer's SHA-256, 64 hex digits in lower case; "" when the reply
  // gives none (or something else).
  std::string sha256;
};

// Reads a reply body of the service against localVersion.
UpgradeReply ReadUpgradeReply(std::string_view body, std::string_view localVersion = kOwnVersion);

// Posts the request to serviceUrl + "/v2/upgrade_check" + the timestamp query and reads the
// reply, writing the "message: ", "response: " and version lines on standard output.
UpgradeReply CheckForUpgrade(const std::string& checkUrl, const std::atomic<bool>* cancel = nullptr);
// The address of the check: the vendor service's path with the timestamp query; empty when
// the build knows no service.
std::string UpgradeCheckUrl();

struct UpgradeCheckRecord : MessageRecord {
  UpgradeReply reply;
  bool notifyNoUpdate = false;  // the user asked: tell them when nothing is new
};

// One check on its own thread. Constructed and destroyed by one owner thread; the destructor
// stops a running request and joins the thread (at once: the request watches the flag).
class UpgradeChecker {
 public:
  UpgradeChecker() = default;
  ~UpgradeChecker();
  UpgradeChecker(const UpgradeChecker&) = delete;
  UpgradeChecker& operator=(const UpgradeChecker&) = delete;

  // Starts a check of checkUrl that ends with one WM_UPGRADE_CHECKED to sink. False (and
  // nothing posted) while an earlier check is still running.
  bool Start(const std::string& checkUrl, bool notifyNoUpdate, MessageSink* sink);
  bool Running() const { return running_.load(); }

 private:
  void Join();

  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> cancel_{false};
};

}  // namespace tw
