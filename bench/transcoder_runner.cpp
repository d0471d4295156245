// The transcoder runner against bare ffmpeg on the same job, side by side: a 10-minute
// WAV converted to MP3 through StartTranscoder until WM_TASK_DONE, and the same argument
// vector run directly. Prints the median wall times and their ratio (goal <= 1.02).
#include <glog/logging.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "app/Messages.h"
#include "bench/bench_common.h"
#include "tasks/Transcoder.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

class WaitSink : public tw::MessageSink {
 public:
  void Post(tw::Message m) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (m.id == tw::WM_TASK_DONE || m.id == tw::WM_TASK_FAILED) {
      finished_ = true;
      ok_ = m.id == tw::WM_TASK_DONE;
      wake_.notify_all();
    }
  }
  bool Wait() {
    std::unique_lock<std::mutex> hold(lock_);
    wake_.wait(hold, [&] { return finished_; });
    finished_ = false;
    return ok_;
  }

 private:
  std::mutex lock_;
  std::condition_variable wake_;
  bool finished_ = false, ok_ = false;
};

// Runs a program with all its output thrown away; its exit status.
int RunBare(const std::vector<std::string>& args) {
  return tw::bench::RunProgram(args, true).status;
}

using tw::bench::Median;

}  // namespace

int main(int argc, char** argv) {
  FLAGS_minloglevel = 1;  // the runner logs every block at INFO
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  const std::string dir = fs::temp_directory_path() / "tw-bench-runner";
  fs::create_directories(dir);
  const std::string wav = dir + "/ten-minutes.wav";
  if (!fs::exists(wav)) {
    RunBare({"ffmpeg", "-y", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=600", "-ac",
             "2", wav});
  }
  const std::string ffmpeg = tw::TranscoderPath();
  const auto job = [&](const std::string& out) {
    return std::vector<std::string>{ffmpeg, "-y", "-i", wav, "-c:a", "libmp3lame", "-b:a", "128k", out};
  };
  WaitSink sink;
  std::vector<double> bare, runner;
  for (int i = 0; i < rounds; ++i) {
    auto t0 = Clock::now();
    RunBare(job(dir + "/bare.mp3"));
    bare.push_back(std::chrono::duration<double>(Clock::now() - t0).count());

    tw::CommandLine cmd;
    cmd.args = job(dir + "/runner.mp3");
    for (const auto& a : cmd.args) cmd.text += a + " ";
    t0 = Clock::now();
    if (!tw::StartTranscoder(cmd, 1, tw::OperationKind::Convert, &sink) || !sink.Wait()) {
      std::fprintf(stderr, "runner failed\n");
      return 1;
    }
    runner.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
  }
  const double b = Median(bare), r = Median(runner);
  std::printf("bare ffmpeg median %.3f s, runner median %.3f s, ratio %.3f (goal <= 1.02)\n", b, r, r / b);
  fs::remove_all(dir);
  return 0;
}
