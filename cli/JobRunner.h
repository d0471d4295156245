// Runs a batch of jobs, at most maxJobs at once, and reports them through a ProgressView.
// SIGINT, SIGTERM and SIGHUP end the running work: every running job is aborted, its final
// message awaited, its partial output removed; jobs not yet started never start.
//
// Threads: Run is called on the main thread and returns only when every started job has
// delivered its final message (so no child is left and no engine thread still writes). The
// transcoder readers and engine threads post into the runner's sink from their own threads;
// the signal handler only sets a flag and wakes the sink.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "app/MessageSink.h"
#include "cli/Job.h"
#include "cli/ProgressView.h"

namespace tw::cli {

// A sink the main thread can wait on together with the interrupt flag. One per process: it
// must outlive every thread that may post into it.
class WaitableSink : public MessageSink {
 public:
  WaitableSink();
  ~WaitableSink() override;
  void Post(Message message) override;
  // Waits until a message is queued or an interrupt arrives (timeoutMs < 0: no limit), then
  // returns everything queued.
  std::vector<Message> Wait(int timeoutMs = -1);

 private:
  std::mutex lock_;
  std::deque<Message> queue_;
  int wakeFd_ = -1;
};

// Handlers that turn SIGINT, SIGTERM and SIGHUP into an interrupt of the runner. Install
// before starting any thread. Which signal arrived, 0 for none.
void InstallInterruptHandlers();
int InterruptSignal();

// The task id a message carries, if it is a job message.
std::optional<int> TaskIdOf(const Message& message);

class JobRunner {
 public:
  JobRunner(int maxJobs, ProgressView& view) : maxJobs_(maxJobs < 1 ? 1 : maxJobs), view_(view) {}

  // Runs the jobs in order; returns how many failed (or were cut short by an interrupt).
  // Once per process: all runs share one sink that lives until the process ends.
  int Run(std::vector<std::unique_ptr<Job>> jobs);
  bool Interrupted() const { return interrupted_; }
  // The most jobs that ran at the same moment in the last Run.
  int PeakRunning() const { return peakRunning_; }

 private:
  int maxJobs_;
  ProgressView& view_;
  bool interrupted_ = false;
  int peakRunning_ = 0;
};

}  // namespace tw::cli
