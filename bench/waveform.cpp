// Waveform of a 2-hour MP3 against `ffmpeg -i FILE -f null -` (decode only) on the same file,
// side by side in one run: wall time, CPU time and peak memory of each, as ratios. Also a
// trial of decoding the two halves on two threads with the same values picked.
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
#include <thread>
#include <vector>

#include "media/FFmpegPtr.h"
#include "media/PcmWave.h"
#include "media/WavePeaks.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

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

// One half of the two-thread trial: decodes [fromSec, toSec) of the stream to 8 kHz mono and
// keeps the samples at the stride's global positions, placing each frame by its pts.
int DecodeRange(const std::string& path, double fromSec, double toSec, int strideBytes,
                std::vector<std::pair<int64_t, int32_t>>* out) {
  tw::FormatInputPtr format = tw::OpenInput(path);
  if (!format || avformat_find_stream_info(format.get(), nullptr) < 0) return -1;
  const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (index < 0) return -1;
  AVStream* stream = format->streams[index];
  tw::CodecContextPtr codec = tw::OpenDecoder(stream);
  if (!codec) return -1;
  if (fromSec > 0) {
    av_seek_frame(format.get(), index, static_cast<int64_t>(fromSec / av_q2d(stream->time_base)),
                  AVSEEK_FLAG_BACKWARD);
  }
  const int64_t offset = strideBytes > 0 ? strideBytes / 2 : 0;
  const int64_t period = offset + 1;
  const int64_t fromSample = static_cast<int64_t>(fromSec * tw::kWaveSampleRate);
  const int64_t toSample = static_cast<int64_t>(toSec * tw::kWaveSampleRate);
  tw::PacketPtr packet = tw::MakePacket();
  tw::FramePtr frame = tw::MakeFrame();
  tw::SwrPtr swr;
  std::vector<int16_t> pcm(tw::PcmWave::kPcmBufferBytes / 2);
  int64_t position = -1;  // global 8 kHz position of the next converted sample
  bool past = false;
  while (!past && av_read_frame(format.get(), packet.get()) >= 0) {
    if (packet->stream_index != index || avcodec_send_packet(codec.get(), packet.get()) < 0) {
      av_packet_unref(packet.get());
      continue;
    }
    av_packet_unref(packet.get());
    while (avcodec_receive_frame(codec.get(), frame.get()) == 0) {
      if (!swr) {
        AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
        SwrContext* raw = nullptr;
        swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_S16, tw::kWaveSampleRate, &frame->ch_layout,
                            static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
        swr.reset(raw);
        if (raw) av_opt_set_int(raw, "filter_size", tw::kWaveFilterSize, 0);
        if (!raw || swr_init(raw) < 0) return -1;
      }
      if (position < 0)
        position = static_cast<int64_t>(frame->pts * av_q2d(stream->time_base) * tw::kWaveSampleRate);
      uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(pcm.data())};
      const int n = swr_convert(swr.get(), dst, static_cast<int>(pcm.size()),
                                const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
      for (int i = 0; i < n; ++i, ++position) {
        if (position < fromSample) continue;
        if (position >= toSample) {
          past = true;
          break;
        }
        if (position >= offset && (position - offset) % period == 0) out->emplace_back(position, pcm[i]);
      }
      if (past) break;
    }
  }
  return 0;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : MakeLongMp3();
  if (path.empty()) {
    std::fprintf(stderr, "could not generate the test file (is ffmpeg installed?)\n");
    return 1;
  }
  const int rounds = 3;
  std::vector<double> baseWall, baseCpu, baseRss, waveWall, waveCpu, waveRss, halvesWall;
  size_t values = 0;
  double duration = 0;
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

    const RunFigures wave = RunForked([&] {
      std::vector<int32_t> peaks;
      return tw::ReadWavePeaks(path, &peaks) == 0 && !peaks.empty() ? 0 : 1;
    });
    if (wave.status != 0) {
      std::fprintf(stderr, "the waveform run failed (%d)\n", wave.status);
      return 1;
    }
    waveWall.push_back(wave.wallSec);
    waveCpu.push_back(wave.cpuSec);
    waveRss.push_back(wave.maxRssMb);

    if (round == 0) {
      std::vector<int32_t> peaks;
      tw::ReadWavePeaks(path, &peaks, nullptr, &duration);
      values = peaks.size();
    }
    const int stride = tw::WaveStrideBytes(duration);
    const auto start = Clock::now();
    std::vector<std::pair<int64_t, int32_t>> first, second;
    std::thread a([&] { DecodeRange(path, 0, duration / 2, stride, &first); });
    std::thread b([&] { DecodeRange(path, duration / 2, duration + 1, stride, &second); });
    a.join();
    b.join();
    halvesWall.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    if (round == 0) {
      std::printf("two halves picked %zu + %zu values (one reader: %zu)\n", first.size(), second.size(),
                  values);
    }
    std::printf("round %d: ffmpeg -f null %.2f s, waveform %.2f s, two halves %.2f s\n", round + 1,
                base.wallSec, wave.wallSec, halvesWall.back());
  }
  const double bw = Median(baseWall), ww = Median(waveWall), hw = Median(halvesWall);
  std::printf("\nfile: %s (%.0f s), %zu values\n", path.c_str(), duration, values);
  std::printf("decode only (ffmpeg -f null): wall %.2f s, cpu %.2f s, peak memory %.1f MB\n", bw,
              Median(baseCpu), Median(baseRss));
  std::printf("waveform reader:              wall %.2f s, cpu %.2f s, peak memory %.1f MB\n", ww,
              Median(waveCpu), Median(waveRss));
  std::printf("ratio waveform / decode only: wall %.3f (goal <= 1.1), cpu %.3f\n", ww / bw,
              Median(waveCpu) / Median(baseCpu));
  std::printf("peak memory of the reader: %.1f MB (goal < 60 MB)\n", Median(waveRss));
  std::printf("two halves on two threads: wall %.2f s = %.3f of decode only, %.3f of the reader\n", hw,
              hw / bw, hw / ww);
  return 0;
}
