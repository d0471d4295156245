#include "tests/support/TestDesktop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "tests/support/TestMedia.h"

extern char** environ;

namespace tw::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kChildVariable = "TW_TEST_DESKTOP_CHILD";
constexpr const char* kXVariable = "TW_TEST_X_DISPLAY";
constexpr const char* kTraceVariable = "TW_TEST_WAYLAND_TRACE";
constexpr int kChildTimeoutS = 120;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The process's environment less the names given, plus extra.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& extra,
                                         const std::vector<std::string>& drop) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    bool dropped = false;
    for (const std::string& name : drop) dropped = dropped || v.rfind(name + "=", 0) == 0;
    if (!dropped) env.push_back(v);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

bool WaitFor(const std::function<bool()>& ready, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    if (ready()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return ready();
}

bool Installed(const std::string& program) {
  return RunProcess({"sh", "-c", "command -v " + program + " >/dev/null"}) == 0;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TestDesktop::TestDesktop(Kind kind) : kind_(kind) {
  const std::vector<std::string> needed =
      kind == Kind::kWayland
          ? std::vector<std::string>{"Xvfb", "weston", "xdotool", "import"}
          : std::vector<std::string>{"Xvfb", "openbox", "xcompmgr", "xdotool", "import", "xprop"};
  for (const std::string& program : needed)
    if (!Installed(program)) failure_ += program + " is not installed (scripts/setup installs it); ";
  if (!failure_.empty()) return;
  runtimeDir_ = TempDir();
  if (!StartX()) return;
  if (kind == Kind::kWayland) {
    StartWeston();
  } else {
    StartWindowManagers();
  }
}

TestDesktop::~TestDesktop() {
  for (auto it = started_.rbegin(); it != started_.rend(); ++it) {
    kill(*it, SIGTERM);
    if (!WaitFor([pid = *it] { return waitpid(pid, nullptr, WNOHANG) == pid; }, 5s)) {
      kill(*it, SIGKILL);
      waitpid(*it, nullptr, 0);
    }
  }
}

pid_t TestDesktop::Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         int outFd) {
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::string log = runtimeDir_ + "/" + argv[0].substr(argv[0].rfind('/') + 1) + ".log";
  if (outFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, outFd, 3);
  }
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  started_.push_back(pid);
  return pid;
}

// Xvfb picks a free display and tells its number through a pipe once it accepts clients.
bool TestDesktop::StartX() {
  int fds[2];
  if (pipe(fds) != 0) {
    failure_ = "no pipe for Xvfb";
    return false;
  }
  const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24";
  const pid_t pid = Spawn({"Xvfb", "-displayfd", "3", "-screen", "0", size, "-nolisten", "tcp", "-noreset"},
                          EnvironmentWith({}, {}), fds[1]);
  close(fds[1]);
  std::string number;
  pollfd readable{fds[0], POLLIN, 0};
  while (pid > 0 && poll(&readable, 1, 20000) == 1) {
    char c = 0;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty()) {
    failure_ = "Xvfb did not start: " + ReadFile(runtimeDir_ + "/Xvfb.log");
    return false;
  }
  xDisplay_ = ":" + number;
  return true;
}

bool TestDesktop::StartWindowManagers() {
  const auto env = EnvironmentWith({"DISPLAY=" + xDisplay_, "HOME=" + runtimeDir_}, {"DISPLAY", "HOME"});
  Spawn({"openbox", "--sm-disable"}, env);
  const bool wm = WaitFor(
      [&] {
        std::string out;
        RunProcess({"xprop", "-display", xDisplay_, "-root", "_NET_SUPPORTING_WM_CHECK"}, &out);
        return out.find("window id") != std::string::npos;
      },
      20s);
  // xcompmgr owns the compositing selection through a window of its name.
  Spawn({"xcompmgr"}, env);
  const bool compositor = WaitFor(
      [&] {
        std::string out;
        RunProcess({"xwininfo", "-display", xDisplay_, "-root", "-children"}, &out);
        return out.find("\"xcompmgr\"") != std::string::npos;
      },
      20s);
  if (!wm) failure_ = "openbox did not start: " + ReadFile(runtimeDir_ + "/openbox.log");
  if (!compositor) failure_ += "xcompmgr did not start: " + ReadFile(runtimeDir_ + "/xcompmgr.log");
  return failure_.empty();
}

bool TestDesktop::StartWeston() {
  socket_ = runtimeDir_ + "/tw-wayland";
  const auto env =
      EnvironmentWith({"DISPLAY=" + xDisplay_, "XDG_RUNTIME_DIR=" + runtimeDir_, "HOME=" + runtimeDir_},
                      {"DISPLAY", "XDG_RUNTIME_DIR", "HOME", "WAYLAND_DISPLAY", "WAYLAND_DEBUG"});
  // No fades: weston's default start-up fade darkens the whole screen for a while, and a loaded
  // machine could take its first screenshot half-way through it.
  const std::string config = runtimeDir_ + "/weston.ini";
  std::ofstream(config) << "[shell]\nstartup-animation=none\nclose-animation=none\nanimation=none\n"
                           "focus-animation=none\n";
  Spawn({"weston", "--config=" + config, "--backend=x11-backend.so", "--use-pixman", "--idle-time=0",
         "--socket=tw-wayland", "--width=" + std::to_string(kWidth), "--height=" + std::to_string(kHeight)},
        env);
  struct stat st {};
  if (!WaitFor([&] { return stat(socket_.c_str(), &st) == 0; }, 20s)) {
    failure_ = "weston did not start: " + ReadFile(runtimeDir_ + "/weston.log");
    return false;
  }
  return true;
}

int TestDesktop::RunCurrentTest(const std::string& traceFile, std::string* output) const {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
  std::vector<std::string> extra = {std::string(kChildVariable) + "=1",
                                    std::string(kXVariable) + "=" + xDisplay_};
  if (kind_ == Kind::kWayland) {
    extra.insert(extra.end(), {"QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=" + socket_,
                               "WAYLAND_DEBUG=client", std::string(kTraceVariable) + "=" + traceFile});
  } else {
    extra.insert(extra.end(), {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + xDisplay_});
  }
  const auto env = EnvironmentWith(extra, {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_DEBUG",
                                           kChildVariable, kXVariable, kTraceVariable});
  const std::string outPath = TempDir() + "/child.out";
  std::vector<char*> args = {const_cast<char*>("/proc/self/exe"), const_cast<char*>(filter.c_str()), nullptr};
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  // The protocol trace goes to stderr: keep it apart from the test's own report.
  const std::string errPath = traceFile.empty() ? outPath : traceFile;
  if (traceFile.empty())
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  else
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  // A child that hangs is ended, and says where it stood.
  int status = -1;
  if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(kChildTimeoutS))) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    if (output) *output = ReadFile(outPath) + "\n(ended after " + std::to_string(kChildTimeoutS) + " s)";
    return -1;
  }
  if (output) *output = ReadFile(outPath);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool InDesktopChild() {
  return !Env(kChildVariable).empty();
}
std::string DesktopX() {
  return Env(kXVariable);
}
std::string DesktopTrace() {
  return Env(kTraceVariable);
}

int Xdo(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"env", "DISPLAY=" + DesktopX(), "xdotool"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv);
}

// Both pointers end in the bottom-left corner, where no panel shows a tooltip.
void HomePointer() {
  Xdo({"mousemove", std::to_string(TestDesktop::kWidth - 1), "0"});
  Xdo({"mousemove", "0", std::to_string(TestDesktop::kHeight - 1)});
}

bool GrabDesktop(const std::string& path) {
  return RunProcess({"import", "-display", DesktopX(), "-window", "root", "png:" + path}) == 0;
}

DesktopRun RunOnDesktop(TestDesktop::Kind kind) {
  DesktopRun run;
  TestDesktop desktop(kind);
  if (!desktop.Failure().empty()) {
    run.skipped = true;
    run.message = "no desktop here: " + desktop.Failure();
    return run;
  }
  const std::string trace = kind == TestDesktop::Kind::kWayland ? TempDir() + "/wayland.trace" : "";
  std::string output;
  run.status = desktop.RunCurrentTest(trace, &output);
  // GoogleTest reports a skip as "<file>:<line>: Skipped", the reason, then "[  SKIPPED ]".
  const auto skipped = output.find("[  SKIPPED ]");
  if (run.status == 0 && skipped != std::string::npos) {
    run.skipped = true;
    const auto reason = output.rfind("Skipped\n", skipped);
    run.message = reason == std::string::npos ? "skipped" : output.substr(reason + 8, skipped - reason - 8);
    return run;
  }
  if (run.status != 0) run.message = output;
  return run;
}

}  // namespace tw::test
