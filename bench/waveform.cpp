// Waveform of a 2-hour MP3 against `ffmpeg -i FILE -f null -` (decode only) on the same file,
// side by side in one run: wall time, CPU time and peak memory of each, as ratios; the reader as
// it runs (two halves at once where there are two cores) and kept to one part. Then the real
// values of a 10-second stretch near the end, as a zoomed view asks for them (the stretch with
// a quarter to spare on each side), against `ffmpeg -ss ... -t ... -f null -` on that stretch.
//
//   bench_waveform [file]       (default: a 2-hour MP3 generated once into $TW_BENCH_MEDIA_DIR
//                                or /tmp/tw-bench-media)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "app/FFmpegPtr.h"
#include "media/PcmWave.h"
#include "media/WavePeaks.h"
#include "media/WaveStretch.h"

namespace {

using tw::bench::Clock;
using tw::bench::Median;
using tw::bench::RunFigures;
using tw::bench::RunProgram;

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
  return tw::bench::WaitChild(pid, start);
}

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : tw::bench::TwoHourMp3();
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
