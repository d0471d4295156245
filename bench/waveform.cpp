// Waveform of a 2-hour MP3 against `ffmpeg -i FILE -f null -` (decode only) on the same file,
// side by side in one run: wall time, CPU time and peak memory of each, as ratios; the reader as
// it runs (two halves at once where there are two cores) and kept to one part. Then the real
// values of a 10-second stretch near the end, as a zoomed view asks for them (the stretch with
// a quarter to spare on each side), against `ffmpeg -ss ... -t ... -f null -` on that stretch.
//
//   bench_waveform [file]       (default: a 2-hour MP3 generated once into $TW_BENCH_MEDIA_DIR
//                                or /tmp/tw-bench-media)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "media/FFmpegPtr.h"
#include "media/PcmWave.h"
#include "media/WavePeaks.h"
#include "media/WaveStretch.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct RunFigures {
  double wallSec = 0;
  double cpuSec = 0;
  double maxRssMb = 0;
  int status = 0;
};

double Seconds(const timeval& tv) {
  return tv.tv_sec + tv.tv_usec / 1e6;
}

RunFigures WaitChild(pid_t pid, Clock::time_point start) {
  RunFigures f;
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  f.wallSec = std::chrono::duration<double>(Clock::now() - start).count();
  f.cpuSec = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  f.maxRssMb = usage.ru_maxrss / 1024.0;
  f.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return f;
}

RunFigures RunProgram(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const auto start = Clock::now();
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return {0, 0, 0, 127};
  }
  posix_spawn_file_actions_destroy(&actions);
  return WaitChild(pid, start);
}

// Runs fn in a forked child so that its peak memory is its own.
template <class Fn>
RunFigures RunForked(Fn fn) {
  std::fflush(stdout);
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    // The reader's trace lines would swamp the figures.
    if (!freopen("/dev/null", "w", stdout)) _exit(3);
    _exit(fn());
  }
  return WaitChild(pid, start);
}

std::string MakeLongMp3() {
  const char* env = std::getenv("TW_BENCH_MEDIA_DIR");
  const std::string dir = env && *env ? env : "/tmp/tw-bench-media";
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/two-hours.mp3";
  if (std::filesystem::exists(path)) return path;
  std::printf("generating a 2-hour MP3 (once) ...\n");
  const std::string partial = path + ".partial.mp3";
  const RunFigures made = RunProgram({"ffmpeg",
                                      "-hide_banner",
                                      "-loglevel",
                                      "error",
                                      "-y",
                                      "-f",
                                      "lavfi",
                                      "-i",
                                      "sine=frequency=440:sample_rate=44100:duration=7200",
                                      "-f",
                                      "lavfi",
                                      "-i",
                                      "anoisesrc=color=pink:amplitude=0.05:sample_rate=44100:duration=7200",
                                      "-filter_complex",
                                      "amix=inputs=2:normalize=0",
                                      "-ac",
                                      "2",
                                      "-c:a",
                                      "libmp3lame",
                                      "-b:a",
                                      "128k",
                                      partial});
  if (made.status != 0) return {};
  std::filesystem::rename(partial, path);
  return path;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : MakeLongMp3();
  if (path.empty()) {
    std::fprintf(stderr, "could not generate the test file (is ffmpeg installed?)\n");
    return 1;
  }
  const int rounds = 3;
  std::vector<double> baseWall, baseCpu, baseRss, waveWall, waveCpu, waveRss, oneWall, oneCpu;
  size_t values = 0;
  double duration = 0;
  int parts = 0;
  for (int round = 0; round < rounds; ++round) {
    const RunFigures base = RunProgram(
        {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-i", path, "-f", "null", "-"});
    if (base.status != 0) {
      std::fprintf(stderr, "the baseline ffmpeg run failed (%d)\n", base.status);
      return 1;
    }
    baseWall.push_back(base.wallSec);
    baseCpu.push_back(base.cpuSec);
    baseRss.push_back(base.maxRssMb);

    const auto read = [&](tw::WaveReadOptions options) {
      return RunForked([&] {
        std::vector<int32_t> peaks;
        return tw::ReadWavePeaks(path, &peaks, nullptr, nullptr, options) == 0 && !peaks.empty() ? 0 : 1;
      });
    };
    const RunFigures wave = read({});
    const RunFigures one = read({.maxParts = 1});
    if (wave.status != 0 || one.status != 0) {
      std::fprintf(stderr, "the waveform run failed (%d, %d)\n", wave.status, one.status);
      return 1;
    }
    waveWall.push_back(wave.wallSec);
    waveCpu.push_back(wave.cpuSec);
    waveRss.push_back(wave.maxRssMb);
    oneWall.push_back(one.wallSec);
    oneCpu.push_back(one.cpuSec);
    if (round == 0) {
      tw::PcmWave wave(nullptr);
      if (wave.Open(path) == 0) {
        parts = wave.Parts();
        wave.Join();
        values = wave.Peaks().size();
        duration = wave.Duration();
      }
    }
    std::printf("round %d: ffmpeg -f null %.2f s, waveform %.2f s, in one part %.2f s\n", round + 1,
                base.wallSec, wave.wallSec, one.wallSec);
  }
  const double bw = Median(baseWall), ww = Median(waveWall), ow = Median(oneWall);
  std::printf("\nfile: %s (%.0f s), %zu values, read in %d part(s) on %d core(s)\n", path.c_str(), duration,
              values, parts, tw::UsableCores());
  std::printf("decode only (ffmpeg -f null): wall %.2f s, cpu %.2f s, peak memory %.1f MB\n", bw,
              Median(baseCpu), Median(baseRss));
  std::printf("waveform reader:              wall %.2f s, cpu %.2f s, peak memory %.1f MB\n", ww,
              Median(waveCpu), Median(waveRss));
  std::printf("waveform reader, one part:    wall %.2f s, cpu %.2f s\n", ow, Median(oneCpu));
  std::printf("ratio waveform / decode only: wall %.3f (goal <= 0.5), cpu %.3f; one part: wall %.3f\n",
              ww / bw, Median(waveCpu) / Median(baseCpu), ow / bw);
  // On a machine whose other core is busy the halves cannot run side by side; their work split
  // over two free cores is what the wall time comes to there.
  if (parts > 1)
    std::printf("the reader's cpu time over %d cores / decode only's: %.3f\n", parts,
                Median(waveCpu) / parts / Median(baseCpu));
  std::printf("peak memory of the reader: %.1f MB (goal < 60 MB)\n", Median(waveRss));

  // The stretch a view of 10 s near the end asks for: 2.5 s to spare each side, two buckets a
  // pixel of a 1,600 px axis. The first read opens the file, the next ones reuse it.
  const double viewStart = duration - 30, viewLength = 10;
  const double from = viewStart - viewLength / 4, to = viewStart + viewLength * 1.25;
  const int buckets = static_cast<int>(1600 * (to - from) / viewLength) * 2;
  std::vector<double> stretchMs, ffmpegMs;
  tw::WaveStretchSource source;
  double firstMs = 0;
  for (int round = 0; round < 5; ++round) {
    tw::WaveEnvelope envelope;
    const auto start = Clock::now();
    if (source.Read(path, from - round, to - round, buckets, &envelope) != 0) {
      std::fprintf(stderr, "the stretch could not be read\n");
      return 1;
    }
    (round == 0 ? firstMs : stretchMs.emplace_back()) = MsSince(start);
    const RunFigures cut = RunProgram({"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-ss",
                                       std::to_string(from - round), "-t", std::to_string(to - from), "-i",
                                       path, "-f", "null", "-"});
    ffmpegMs.push_back(cut.wallSec * 1000);
  }
  const double sm = Median(stretchMs), fm = Median(ffmpegMs);
  std::printf(
      "\nstretch of %.1f s at %.0f s (%d buckets): first read %.1f ms, then %.1f ms (goal < 100 ms)\n",
      to - from, from, buckets, firstMs, sm);
  std::printf("ffmpeg -ss -t -f null on the same stretch: %.1f ms; ratio %.3f\n", fm, sm / fm);
  return 0;
}
