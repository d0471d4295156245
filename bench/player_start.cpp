// Player start: from Play to the first device callback that carries decoded sound, median of
// several starts, against a bare SDL device (open, start, first callback) measured in the same
// run on the same driver. Runs on SDL's dummy driver and, when a sound server answers, on
// pulse.
//
//   bench_player_start [file...]   (default: a WAV and an MP3 generated into
//                                   $TW_BENCH_MEDIA_DIR or /tmp/tw-bench-media)
#include <SDL2/SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_common.h"
#include "media/AudioPlayer.h"

namespace {

using tw::bench::Clock;
using tw::bench::Median;
constexpr int kStarts = 15;

std::atomic<int64_t> firstCallbackNs{-1};
Clock::time_point bareStart;

void BareCallback(void*, Uint8* stream, int len) {
  SDL_memset(stream, 0, static_cast<size_t>(len));
  if (firstCallbackNs < 0) {
    firstCallbackNs = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - bareStart).count();
  }
}

// Opening and starting SDL's device with nothing to decode: the floor under any player.
double BareDeviceStartMs() {
  firstCallbackNs = -1;
  bareStart = Clock::now();
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return -1;
  SDL_AudioSpec want{};
  want.freq = 44100;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = tw::AudioPlayer::kDeviceSamples;
  want.callback = BareCallback;
  if (SDL_OpenAudio(&want, nullptr) != 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return -1;
  }
  SDL_PauseAudio(0);
  const auto until = Clock::now() + std::chrono::seconds(5);
  while (firstCallbackNs < 0 && Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  SDL_CloseAudio();
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  return firstCallbackNs < 0 ? -1 : firstCallbackNs / 1e6;
}

double PlayerStartMs(const std::string& path) {
  tw::AudioPlayer player;
  if (player.Play(path) != 0) return -1;
  const auto until = Clock::now() + std::chrono::seconds(5);
  while (player.MsToFirstSound() < 0 && Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  const double ms = player.MsToFirstSound();
  player.Stop();
  player.Release();
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) files.push_back(argv[i]);
  if (files.empty()) {
    files.push_back(tw::bench::BenchMedia(
        "start-tone.wav", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=60", "-ac",
                           "2", "-c:a", "pcm_s16le"}));
    files.push_back(tw::bench::BenchMedia(
        "start-tone.mp3", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=60", "-ac",
                           "2", "-c:a", "libmp3lame", "-b:a", "192k"}));
  }
  std::vector<std::string> drivers{"dummy"};
  if (std::getenv("PULSE_SERVER") && tw::bench::RunProgram({"pactl", "info"}, true).status == 0)
    drivers.push_back("pulse");

  // The trace lines of the player would swamp the figures.
  std::fflush(stdout);
  const int saved = dup(1);
  bool ok = true;
  std::vector<std::string> report;
  for (const std::string& driver : drivers) {
    setenv("SDL_AUDIODRIVER", driver.c_str(), 1);
    for (const std::string& file : files) {
      if (file.empty()) {
        ok = false;
        continue;
      }
      std::vector<double> bare, player;
      for (int i = 0; i < kStarts; ++i) {  // interleaved, so both see the same machine load
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        close(quiet);
        bare.push_back(BareDeviceStartMs());
        player.push_back(PlayerStartMs(file));
        std::fflush(stdout);
        dup2(saved, 1);
      }
      const double b = Median(bare), p = Median(player);
      char line[512];
      std::snprintf(
          line, sizeof line,
          "%-6s %-16s bare device %6.1f ms, player %6.1f ms (median of %d), ratio %.2f, goal < 100 ms: %s",
          driver.c_str(), std::filesystem::path(file).filename().c_str(), b, p, kStarts, b > 0 ? p / b : 0,
          p >= 0 && p < 100 ? "met" : "missed");
      report.push_back(line);
      ok = ok && p >= 0;
    }
  }
  for (const auto& line : report) std::printf("%s\n", line.c_str());
  return ok ? 0 : 1;
}
