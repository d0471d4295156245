// The convert queue against bare ffmpeg on the same jobs, side by side: 50 one-second WAV
// files converted to MP3 through ConvertQueue (worker, runner, completion handled by a
// window-like loop), and the same 50 argument vectors run back to back. The two alternate
// which goes first from round to round; prints the median wall times and the median of the
// per-round ratios (goal <= 1.05). Usage: bench_queue_overhead [rounds, default 5]
#include <glog/logging.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "app/Messages.h"
#include "bench/bench_common.h"
#include "tasks/ConvertQueue.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The window's side: verdicts queued for the owner's thread, which completes them.
class VerdictSink : public tw::MessageSink {
 public:
  void Post(tw::Message m) override {
    if (m.id != tw::WM_TASK_DONE && m.id != tw::WM_TASK_FAILED) return;
    std::lock_guard<std::mutex> hold(lock_);
    verdicts_.push_back(std::move(m));
    wake_.notify_all();
  }
  tw::Message Next() {
    std::unique_lock<std::mutex> hold(lock_);
    wake_.wait(hold, [&] { return !verdicts_.empty(); });
    tw::Message m = std::move(verdicts_.front());
    verdicts_.pop_front();
    return m;
  }

 private:
  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<tw::Message> verdicts_;
};

// Runs a program with all its output thrown away; its exit status.
int RunBare(const std::vector<std::string>& args) {
  return tw::bench::RunProgram(args, true).status;
}

using tw::bench::Median;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  FLAGS_minloglevel = 1;  // the runner and the queue log every step at INFO
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const int files = 50;
  const fs::path dir = fs::temp_directory_path() / ("tw-bench-queue-" + std::to_string(getpid()));
  fs::create_directories(dir / "in");

  tw::TaskMap tasks;
  std::vector<int> ids;
  for (int i = 0; i < files; ++i) {
    const std::string path = (dir / "in" / ("tone-" + std::to_string(i) + ".wav")).string();
    RunBare({"ffmpeg", "-y", "-f", "lavfi", "-i",
             "sine=frequency=" + std::to_string(300 + 10 * i) + ":sample_rate=44100:duration=1", "-ac", "2",
             path});
    tw::FileEntry entry = tw::EntryForPath(path);
    entry.duration = 1;
    ids.push_back(tasks.Add(entry));
  }
  const tw::ConvertOptions options{"mp3", 0, 0, 0};
  tw::CommandContext base;
  base.transcoder = tw::TranscoderPath();
  base.timestamp = tw::LocalTimestamp(std::time(nullptr));

  std::vector<double> bare, queued, ratios;
  for (int round = 0; round < rounds; ++round) {
    // Baseline: the very commands the queue builds, run back to back.
    const auto runBare = [&]() -> double {
      tw::CommandContext ctx = base;
      ctx.outputFolder = (dir / ("bare-" + std::to_string(round))).string();
      fs::create_directories(ctx.outputFolder);
      std::vector<std::vector<std::string>> jobs;
      for (int id : ids) jobs.push_back(tw::BuildConvertCommand(tasks.Lookup(id), options, ctx).command.args);
      const auto t0 = Clock::now();
      for (const auto& job : jobs) {
        if (RunBare(job) != 0) return -1;
      }
      return Seconds(t0);
    };
    const auto runQueue = [&]() -> double {
      const std::string queueFolder = (dir / ("queue-" + std::to_string(round))).string();
      fs::create_directories(queueFolder);
      VerdictSink sink;
      tw::ConvertQueue queue(tasks, &sink, [&] {
        tw::CommandContext c = base;
        c.outputFolder = queueFolder;
        return c;
      });
      queue.SetOptions(options);
      queue.Start();
      const auto t0 = Clock::now();
      queue.EnqueueAll(ids);
      for (int done = 0; done < files; ++done) {
        const tw::Message m = sink.Next();
        if (m.id != tw::WM_TASK_DONE) return -1;
        queue.CompleteFromMessage(m);
      }
      return Seconds(t0);
    };
    double b = 0, q = 0;
    if (round % 2 == 0) {
      b = runBare();
      q = runQueue();
    } else {
      q = runQueue();
      b = runBare();
    }
    if (b <= 0 || q <= 0) {
      std::fprintf(stderr, "a conversion failed\n");
      return 1;
    }
    bare.push_back(b);
    queued.push_back(q);
    ratios.push_back(q / b);
    std::printf("round %d: bare %.3f s, queue %.3f s, ratio %.3f\n", round + 1, b, q, q / b);
  }
  std::printf("%d files: bare ffmpeg median %.3f s, queue median %.3f s, median ratio %.3f (goal <= 1.05)\n",
              files, Median(bare), Median(queued), Median(ratios));
  fs::remove_all(dir);
  return 0;
}
