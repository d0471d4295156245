#include "tests/support/PrivateDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "tests/support/TestMedia.h"

extern char** environ;

namespace tw::test {
namespace {

// Starts argv with its output discarded, with extra environment entries and, when given, a
// descriptor passed on as the child's fd 3.
pid_t Start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv, int fd3 = -1) {
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) envText.emplace_back(*e);
  envText.insert(envText.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> env, args;
  for (auto& e : envText) env.push_back(e.data());
  env.push_back(nullptr);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (fd3 >= 0) posix_spawn_file_actions_adddup2(&actions, fd3, 3);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

}  // namespace

PrivateDisplay::PrivateDisplay(int width, int height) {
  // Xvfb picks a free display itself and writes its number to fd 3 once it takes clients.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error_ = "no pipe";
    return;
  }
  server_ = Start({"Xvfb", "-displayfd", "3", "-screen", "0",
                   std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten", "tcp"},
                  {}, fds[1]);
  close(fds[1]);
  std::string number;
  pollfd wait{fds[0], POLLIN, 0};
  while (server_ > 0 && poll(&wait, 1, 10000) > 0) {
    char c = 0;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (server_ <= 0 || number.empty()) {
    error_ = "Xvfb did not start";
    return;
  }
  name_ = ":" + number;
  manager_ = Start({"openbox"}, {"DISPLAY=" + name_});
  // The window manager is there once it has put its check window on the root.
  for (int i = 0; i < 200 && manager_ > 0; ++i) {
    std::string out;
    if (RunProcess({"xprop", "-display", name_, "-root", "_NET_SUPPORTING_WM_CHECK"}, &out) == 0 &&
        out.find("window id") != std::string::npos)
      return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  error_ = "openbox did not start on " + name_;
}

PrivateDisplay::~PrivateDisplay() {
  Stop(manager_);
  Stop(server_);
}

}  // namespace tw::test
