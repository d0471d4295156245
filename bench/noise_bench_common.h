// Shared by the denoiser benchmarks: running the ffmpeg program, timing, generated media and
// waiting for a job's completion message. Header only: each bench/*.cpp is its own program.
#pragma once

#include <fcntl.h>
#include <glog/logging.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/MessageSink.h"
#include "app/Messages.h"
#include "tasks/Transcoder.h"

extern char** environ;

namespace tw::bench {

// The engines print short trace lines on standard output and log progress; a benchmark
// keeps its own figures apart: this silences both and returns the stream for the figures.
inline FILE* QuietEnginesAndGetReport(const char* name) {
  google::InitGoogleLogging(name);
  FLAGS_logtostderr = true;
  FLAGS_minloglevel = google::GLOG_ERROR;
  fflush(stdout);
  FILE* report = fdopen(dup(1), "w");
  if (!freopen("/dev/null", "w", stdout)) return report ? report : stderr;
  return report ? report : stderr;
}

// Runs ffmpeg with args, its output thrown away; the exit status (-1 when it cannot start).
inline int RunFfmpeg(const std::vector<std::string>& args) {
  std::vector<std::string> argv{TranscoderPath(), "-hide_banner", "-loglevel", "error", "-nostdin", "-y"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> raw;
  for (auto& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Wall-clock and processor seconds (user + system, of this process and of the children
// it waited for) of one call.
struct Timing {
  double wall = 1e30;
  double cpu = 1e30;
};

inline double CpuNow() {
  double total = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    getrusage(who, &usage);
    total += usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
             usage.ru_stime.tv_usec / 1e6;
  }
  return total;
}

// The best of rounds runs of fn, the least disturbed by other work on the machine.
inline Timing Best(int rounds, const std::function<void()>& fn) {
  Timing best;
  for (int i = 0; i < rounds; ++i) {
    const double cpu0 = CpuNow();
    const auto start = std::chrono::steady_clock::now();
    fn();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best.wall = std::min(best.wall, wall);
    best.cpu = std::min(best.cpu, CpuNow() - cpu0);
  }
  return best;
}

// A folder kept between runs for the generated media.
inline std::string MediaFolder() {
  const std::string dir =
      std::filesystem::temp_directory_path().string() + "/tw-bench-noise-" + std::to_string(getuid());
  std::filesystem::create_directories(dir);
  return dir;
}

// name in MediaFolder, made once with ffmpeg args when missing; "" when that fails.
inline std::string Media(const std::string& name, const std::vector<std::string>& args) {
  const std::string path = MediaFolder() + "/" + name;
  if (std::filesystem::exists(path)) return path;
  const std::string partial = path + ".partial." + std::filesystem::path(name).extension().string().substr(1);
  std::vector<std::string> all = args;
  all.push_back(partial);
  if (RunFfmpeg(all) != 0) return "";
  std::filesystem::rename(partial, path);
  return path;
}

// A sink that lets the bench wait for WM_NOISE_DONE.
class DoneSink : public MessageSink {
 public:
  void Post(Message message) override {
    if (message.id != WM_NOISE_DONE) return;
    std::lock_guard<std::mutex> guard(lock_);
    done_ = true;
    wake_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lk(lock_);
    wake_.wait(lk, [this] { return done_; });
    done_ = false;
  }

 private:
  std::mutex lock_;
  std::condition_variable wake_;
  bool done_ = false;
};

}  // namespace tw::bench
