#include "net/VendorService.h"

#include "app/SettingsFile.h"

#ifndef TW_SERVICE_URL
#define TW_SERVICE_URL ""
#endif
#ifndef TW_WEBSITE_URL
#define TW_WEBSITE_URL ""
#endif

namespace tw {
namespace {

std::string Base(const char* key, const char* built) {
  std::string value = SettingsFile::Instance().GetString(kSettingsSection, key, "");
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
    value.pop_back();
  return value.empty() ? std::string(built) : value;
}

}  // namespace

std::string JoinUrl(std::string base, const std::string& path) {
  if (base.empty()) return {};
  while (!base.empty() && base.back() == '/') base.pop_back();
  if (!path.empty() && path.front() != '/') base += '/';
  return base + path;
}

std::string ServiceUrl(const std::string& path) {
  return JoinUrl(Base(kKeyServiceUrl, TW_SERVICE_URL), path);
}

bool HasVendorService() {
  return !Base(kKeyServiceUrl, TW_SERVICE_URL).empty();
}

std::string WebsiteUrl(const std::string& path) {
  return JoinUrl(Base(kKeyWebsiteUrl, TW_WEBSITE_URL), path);
}

}  // namespace tw
