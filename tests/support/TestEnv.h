// The process environment of a test: a private home for the settings and default folders, and
// environment variables changed for one scope.
#pragma once

#include <optional>
#include <string>

namespace tw::test {

// Points HOME, XDG_DATA_HOME and XDG_CONFIG_HOME at a fresh folder (removed at exit) the first
// time it is called and returns that folder; later calls return the same one. Call it before the
// first SettingsFile::Instance(), e.g. from a namespace-scope constant of the test file.
const std::string& PrivateHome();

// Sets (or, with nullptr, removes) an environment variable until the end of the scope, then puts
// the earlier value back.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const char* value);
  ScopedEnv(std::string name, const std::string& value) : ScopedEnv(std::move(name), value.c_str()) {}
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace tw::test
