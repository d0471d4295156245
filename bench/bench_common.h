// Shared by the benchmarks that run programs and generate their media: running a program with
// its figures, the generated files in $TW_BENCH_MEDIA_DIR (or /tmp/tw-bench-media), and the
// median. Header only: each bench/*.cpp is its own program.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace tw::bench {

using Clock = std::chrono::steady_clock;

struct RunFigures {
  double wallSec = 0;
  double cpuSec = 0;
  double maxRssMb = 0;
  int status = 0;  // the exit status, 128 + signal, 127 when it cannot start
};

// Waits for a child started at start and gives its figures.
inline RunFigures WaitChild(pid_t pid, Clock::time_point start) {
  RunFigures f;
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  const auto seconds = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
  f.wallSec = std::chrono::duration<double>(Clock::now() - start).count();
  f.cpuSec = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  f.maxRssMb = usage.ru_maxrss / 1024.0;
  f.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return f;
}

// Runs argv (found on PATH) with no input and its standard output thrown away; with quiet its
// errors too.
inline RunFigures RunProgram(const std::vector<std::string>& argv, bool quiet = false) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return {0, 0, 0, 127};
  return WaitChild(pid, start);
}

// The path of name among the benchmark media, made when missing by
//   ffmpeg -hide_banner -loglevel error -y <args...> <path>
// (into a partial file first, so that an interrupted run leaves no half file); "" when ffmpeg
// fails.
inline std::string BenchMedia(const std::string& name, const std::vector<std::string>& args) {
  const char* env = std::getenv("TW_BENCH_MEDIA_DIR");
  const std::string dir = env && *env ? env : "/tmp/tw-bench-media";
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/" + name;
  if (std::filesystem::exists(path)) return path;
  std::printf("generating %s (once) ...\n", name.c_str());
  const std::string partial = dir + "/partial-" + name;
  std::vector<std::string> argv{"ffmpeg", "-hide_banner", "-loglevel", "error", "-y"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(partial);
  if (RunProgram(argv).status != 0) return {};
  std::filesystem::rename(partial, path);
  return path;
}

// Two hours of a tone in pink noise, 128 kbit/s stereo MP3.
inline std::string TwoHourMp3() {
  return BenchMedia(
      "two-hours.mp3",
      {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=7200", "-f", "lavfi", "-i",
       "anoisesrc=color=pink:amplitude=0.05:sample_rate=44100:duration=7200", "-filter_complex",
       "amix=inputs=2:normalize=0", "-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k"});
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace tw::bench
