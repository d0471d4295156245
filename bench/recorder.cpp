// Recording cost and timing. Two recordings of the same wall-clock length, one after the
// other, against the sound server named by the environment (source scripts/pulse-env and
// call tw_start_pulse first):
//   baseline: "audio-mute-check" set, paced silence through the encoder, no device;
//   full:     system sound and microphone mixed, noise suppression and gain control on,
//             with a tone playing into the speaker and noise into the fake microphone.
// Readers kept on both devices (child processes, at the recorder's piece size) make the
// test server's null sinks start at once, as a sound card does.
// Prints the CPU time per recorded minute as a share of one core for both, their ratio,
// and how far each file's length is from the wall-clock time recorded.
// Usage: bench_recorder [seconds per recording, default 600]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "media/AudioRecorder.h"

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Plays a generated signal into a sink in real time until killed.
pid_t PlayInto(const std::string& sink, const std::string& source) {
  const pid_t pid = fork();
  if (pid == 0) {
    execlp("ffmpeg", "ffmpeg", "-hide_banner", "-loglevel", "error", "-re", "-f", "lavfi", "-i", source.c_str(), "-f",
           "pulse", "-device", sink.c_str(), "bench", static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// Reads a device at the recorder's piece size until killed. An idle null sink renders in
// blocks of up to two seconds, so a recording joining it waits that long for its first
// sound; a reader kept on the device makes it behave like a running sound card. It runs
// as a child process, so its cost is not counted.
pid_t KeepDeviceRunning(const char* device) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    execlp("parec", "parec", "--latency-msec=40", "--raw", "-d", device, static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

void StopPlayer(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
}

double ProbeSeconds(const std::string& path) {
  const std::string command =
      "ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + path + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  double seconds = -1;
  if (std::fscanf(pipe, "%lf", &seconds) != 1) seconds = -1;
  pclose(pipe);
  return seconds;
}

struct Result {
  bool ok = false;
  double wallSeconds = 0;
  double cpuSeconds = 0;
  double fileSeconds = 0;
};

Result RecordOnce(const tw::RecorderSettings& settings, double seconds, const std::string& path) {
  Result result;
  const std::string folder = path.substr(0, path.rfind('/'));
  const std::string name = path.substr(path.rfind('/') + 1);
  const double cpuBefore = CpuSeconds();
  {
    tw::AudioRecorder recorder(nullptr);
    recorder.UseSettings(settings);
    if (recorder.Start(name, folder, 128000, tw::CodecMp3, true, "bench") != 0) return result;
    recorder.Resume();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    recorder.Stop();
    result.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    recorder.WaitFinished(10000);
  }
  result.cpuSeconds = CpuSeconds() - cpuBefore;
  result.fileSeconds = ProbeSeconds(path);
  result.ok = result.fileSeconds > 0;
  return result;
}

void Report(const char* name, const Result& r) {
  const double cpuShare = 100.0 * r.cpuSeconds / r.wallSeconds;
  const double lengthError = 100.0 * (r.fileSeconds - r.wallSeconds) / r.wallSeconds;
  std::printf("%-9s wall %.2f s, cpu %.3f s = %.2f %% of one core (%.2f cpu-s per recorded minute), file %.3f s, "
              "length error %+.3f %%\n",
              name, r.wallSeconds, r.cpuSeconds, cpuShare, r.cpuSeconds * 60.0 / r.wallSeconds, r.fileSeconds,
              lengthError);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 600;
  char folderTemplate[] = "/tmp/tw-bench-recorder.XXXXXX";
  const char* folder = mkdtemp(folderTemplate);
  if (!folder || seconds <= 0) return 2;

  const pid_t speakerKeeper = KeepDeviceRunning("@DEFAULT_MONITOR@");
  const pid_t micKeeper = KeepDeviceRunning("@DEFAULT_SOURCE@");
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));

  tw::RecorderSettings mute;
  mute.muteRecording = 1;
  const Result baseline = RecordOnce(mute, seconds, std::string(folder) + "/baseline.mp3");

  tw::RecorderSettings full;
  full.voiceSource = tw::SourceAll;
  full.noiseSuppression = 1;
  full.gainControl = 1;
  const pid_t tone = PlayInto("tw_speaker", "sine=frequency=440");
  const pid_t noise = PlayInto("tw_micfeed", "anoisesrc=color=pink:amplitude=0.05");
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const Result mixed = RecordOnce(full, seconds, std::string(folder) + "/full.mp3");
  StopPlayer(tone);
  StopPlayer(noise);
  StopPlayer(speakerKeeper);
  StopPlayer(micKeeper);

  if (!baseline.ok || !mixed.ok) {
    std::fprintf(stderr, "bench_recorder: a recording failed (is the sound server running?)\n");
    return 1;
  }
  Report("baseline", baseline);
  Report("full", mixed);
  std::printf("cpu ratio full / baseline: %.2f (goal: full under 3 %% of one core)\n",
              mixed.cpuSeconds / baseline.cpuSeconds);
  std::printf("length error full / baseline: %.3f %% vs %.3f %% (goal: within 0.1 %%)\n",
              100.0 * std::fabs(mixed.fileSeconds - mixed.wallSeconds) / mixed.wallSeconds,
              100.0 * std::fabs(baseline.fileSeconds - baseline.wallSeconds) / baseline.wallSeconds);
  const std::string cleanup = std::string("rm -rf '") + folder + "'";
  if (std::system(cleanup.c_str()) != 0) std::fprintf(stderr, "bench_recorder: %s left behind\n", folder);
  return 0;
}
