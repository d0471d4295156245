#include "tests/support/TestEnv.h"

#include <cstdlib>
#include <filesystem>

#include "tests/support/TestMedia.h"

namespace tw::test {

const std::string& PrivateHome() {
  static const std::string home = [] {
    const std::string dir = TempDir();
    if (dir.empty()) return dir;
    const std::string h = dir + "/home";
    std::filesystem::create_directories(h);
    // Private as a runtime folder must be, should a test use it as one.
    std::filesystem::permissions(h, std::filesystem::perms::owner_all);
    setenv("HOME", h.c_str(), 1);
    setenv("XDG_DATA_HOME", (h + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (h + "/config").c_str(), 1);
    return h;
  }();
  return home;
}

ScopedEnv::ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  if (value) {
    setenv(name_.c_str(), value, 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (old_) {
    setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

}  // namespace tw::test
