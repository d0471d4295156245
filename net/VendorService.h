// Where the vendor's web service and web site are. Each base address (scheme and host, for
// example "http://api.example.org") is the settings key "service-url" or "website-url" when
// set, otherwise the address the build was configured with (CMake TW_SERVICE_URL and
// TW_WEBSITE_URL). A build without them has no vendor service: requests fail at once, as
// without a network, and nothing is sent anywhere. Read anew at every use; any thread.
#pragma once

#include <string>

namespace tw {

inline constexpr const char* kKeyServiceUrl = "service-url";
inline constexpr const char* kKeyWebsiteUrl = "website-url";
// A PEM file of the certificate authorities an installer's https download trusts instead of the
// system's (a service behind an organisation's own authority); unset: the system's.
inline constexpr const char* kKeyCaFile = "ca-file";

inline constexpr const char* kUpgradeCheckPath = "/v2/upgrade_check";
inline constexpr const char* kFeedbackPath = "/v2/feedback";
inline constexpr const char* kHelpPath = "/help";
inline constexpr const char* kProductHelpPath = "/help/audio";

// The base address followed by path (which starts with "/"); empty when no service is known.
std::string ServiceUrl(const std::string& path);
// Whether a service address is known at all (settings or build); without one the update
// check and the feedback form say the build has no such service.
bool HasVendorService();
// The same for the vendor's web site (the help pages).
std::string WebsiteUrl(const std::string& path);

// base + path with exactly one "/" between them; empty for an empty base. Pure.
std::string JoinUrl(std::string base, const std::string& path);

}  // namespace tw
