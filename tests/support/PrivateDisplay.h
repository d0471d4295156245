// An X display of the test's own: Xvfb on a free display number with a light window manager
// (openbox) running on it, for what only a real window system does (maximising, restoring).
// The display lives as long as the object; programs are pointed at it through Name().
#pragma once

#include <sys/types.h>

#include <string>

namespace tw::test {

class PrivateDisplay {
 public:
  PrivateDisplay(int width = 1600, int height = 1000);
  ~PrivateDisplay();
  PrivateDisplay(const PrivateDisplay&) = delete;
  PrivateDisplay& operator=(const PrivateDisplay&) = delete;

  // The server and the window manager are up; otherwise Error() says what failed.
  bool Ok() const { return error_.empty(); }
  const std::string& Error() const { return error_; }
  // ":N"
  const std::string& Name() const { return name_; }

 private:
  pid_t server_ = -1;
  pid_t manager_ = -1;
  std::string name_;
  std::string error_;
};

}  // namespace tw::test
