#include "tests/support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

extern char** environ;

namespace tw::test {
namespace {

std::string NameOf(const std::string& entry) {
  return entry.substr(0, entry.find('='));
}

std::vector<std::string> Environment(const std::vector<std::string>& changes) {
  std::vector<std::string> result;
  for (char** e = environ; e && *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& c : changes) replaced = replaced || NameOf(c) == NameOf(entry);
    if (!replaced) result.push_back(entry);
  }
  for (const auto& c : changes) {
    if (c.find('=') != std::string::npos) result.push_back(c);
  }
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);
  return pointers;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

Process::Process(const std::vector<std::string>& argv, const SpawnOptions& options) {
  if (argv.empty()) return;
  int out[2] = {-1, -1}, err[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  bool ready = true;
  if (options.discardOutput) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  } else {
    if (options.terminal >= 0) {
      out[0] = fcntl(options.terminal, F_DUPFD_CLOEXEC, 0);
      out[1] = open(ptsname(options.terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
      ready = out[0] >= 0 && out[1] >= 0;
    } else {
      ready = pipe2(out, O_CLOEXEC) == 0;
    }
    if (ready && !options.mergeError) ready = pipe2(err, O_CLOEXEC) == 0;
    if (ready) {
      posix_spawn_file_actions_adddup2(&actions, out[1], 1);
      posix_spawn_file_actions_adddup2(&actions, options.mergeError ? out[1] : err[1], 2);
    }
  }
  if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
  std::vector<std::string> args = argv;
  std::vector<std::string> env = Environment(options.env);
  std::vector<char*> argp = Pointers(args), envp = Pointers(env);
  if (ready && posix_spawnp(&pid_, argp[0], &actions, nullptr, argp.data(), envp.data()) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  CloseFd(out[1]);
  CloseFd(err[1]);
  outFd_ = out[0];
  errFd_ = err[0];
  if (pid_ <= 0) {
    CloseFd(outFd_);
    CloseFd(errFd_);
  }
}

Process::Process(Process&& other) noexcept
    : pid_(other.pid_),
      outFd_(other.outFd_),
      errFd_(other.errFd_),
      out_(std::move(other.out_)),
      err_(std::move(other.err_)),
      reaped_(other.reaped_),
      status_(other.status_) {
  other.pid_ = -1;
  other.outFd_ = other.errFd_ = -1;
}

Process::~Process() {
  if (pid_ > 0 && !reaped_) Stop(200);
  CloseFd(outFd_);
  CloseFd(errFd_);
}

bool Process::Pump(int timeoutMs) {
  pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  if (outFd_ < 0 && errFd_ < 0) return false;
  if (poll(fds, 2, timeoutMs) <= 0) return true;
  char buffer[8192];
  for (int i = 0; i < 2; ++i) {
    int& fd = i == 0 ? outFd_ : errFd_;
    if (fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      CloseFd(fd);
    } else {
      (i == 0 ? out_ : err_).append(buffer, static_cast<size_t>(n));
    }
  }
  return true;
}

bool Process::Reap(bool block) {
  if (pid_ <= 0) return true;
  if (reaped_) return true;
  for (;;) {
    rusage usage{};
    const pid_t done = wait4(pid_, &status_, block ? 0 : WNOHANG, &usage);
    if (done < 0 && errno == EINTR) continue;
    if (done == pid_) peakMemoryKb_ = usage.ru_maxrss;
    if (done == pid_ || done < 0) reaped_ = true;
    return reaped_;
  }
}

bool Process::WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return done();
    // With both pipes closed there is nothing to read: poll then only paces the loop.
    if (!Pump(20)) poll(nullptr, 0, 20);
  }
  return true;
}

bool Process::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  return WaitFor([&] { return out_.find(text) != std::string::npos || err_.find(text) != std::string::npos; },
                 timeout);
}

bool Process::WaitExit(std::chrono::milliseconds timeout) {
  return WaitFor([this] { return Reap(false); }, timeout);
}

bool Process::Signal(int signal) const {
  return pid_ > 0 && !reaped_ && kill(pid_, signal) == 0;
}

ProcessResult Process::Finish() {
  ProcessResult result;
  if (pid_ <= 0) return result;
  // A grandchild that inherited a pipe may hold it open after the child's end: read on for a
  // moment, then give up on it.
  auto drainUntil = std::chrono::steady_clock::time_point::max();
  while (Pump(50)) {
    if (drainUntil == std::chrono::steady_clock::time_point::max() && Reap(false))
      drainUntil = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    if (std::chrono::steady_clock::now() > drainUntil) break;
  }
  Reap(true);
  CloseFd(outFd_);
  CloseFd(errFd_);
  result.out = out_;
  result.err = err_;
  result.peakMemoryKb = peakMemoryKb_;
  if (WIFEXITED(status_)) result.exitStatus = WEXITSTATUS(status_);
  if (WIFSIGNALED(status_)) result.signal = WTERMSIG(status_);
  return result;
}

ProcessResult Process::Stop(int graceMs) {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGTERM);
    if (!WaitExit(std::chrono::milliseconds(graceMs))) kill(pid_, SIGKILL);
  }
  return Finish();
}

bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return done();
    poll(nullptr, 0, 10);
  }
  return true;
}

ProcessResult Run(const std::vector<std::string>& argv, const SpawnOptions& options) {
  return Process(argv, options).Finish();
}

bool ReadProcStat(pid_t pid, ProcStat* stat) {
  // Plain reads: a stream reading the file of a process that ends meanwhile throws.
  const int fd = open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[1024];
  const ssize_t n = read(fd, buffer, sizeof buffer - 1);
  close(fd);
  if (n <= 0) return false;
  const std::string text(buffer, static_cast<size_t>(n));
  const size_t open = text.find('('), close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  int parent = 0;
  if (std::sscanf(text.c_str() + close + 1, " %c %d", &stat->state, &parent) != 2) return false;
  stat->name = text.substr(open + 1, close - open - 1);
  stat->parent = parent;
  return true;
}

std::vector<pid_t> ChildrenOf(pid_t pid) {
  std::vector<pid_t> children;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    ProcStat stat;
    if (ReadProcStat(std::stoi(name), &stat) && stat.parent == pid) children.push_back(std::stoi(name));
  }
  return children;
}

bool Alive(pid_t pid) {
  ProcStat stat;
  return ReadProcStat(pid, &stat) && stat.state != 'Z';
}

int ThreadCount() {
  int threads = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/self/task", ec);
       it != std::filesystem::directory_iterator(); ++it)
    ++threads;
  return threads;
}

}  // namespace tw::test
