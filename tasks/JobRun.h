// One started job of a row, whatever does its work: a transcoder child (TranscoderRun) or an
// in-process engine (NoiseRun). The queue that started it keeps the handle until the run has
// finished, so that its row can end it and no other job writes its result meanwhile.
//
// Every message a run posts carries its run id (Message::runId), unique in the process: a
// receiver that has moved on (the row was cancelled, or started again) recognises the reports of
// an old run and ignores them.
//
// Threads: thread-safe. The run's own threads mark it finished; any thread may end or wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "tasks/OperationKind.h"

namespace tw {

// A fresh run id: never 0, never given twice in one process. Any thread.
int NextRunId();

class JobRun {
 public:
  JobRun(int runId, OperationKind kind, int taskId) : runId_(runId), kind_(kind), taskId_(taskId) {}
  virtual ~JobRun() = default;
  JobRun(const JobRun&) = delete;
  JobRun& operator=(const JobRun&) = delete;

  int RunId() const { return runId_; }
  OperationKind Kind() const { return kind_; }
  int TaskId() const { return taskId_; }

  // Ends the work early; returns at once. The run then finishes soon: its children and threads
  // end, whatever it wrote is removed, and any final message it still posts reports it ended.
  // False when it is too late: the run has already reached its verdict (its final message is
  // on its way), and nothing is changed.
  virtual bool End() = 0;

  // True once the run is over: its final message is posted (or it was ended and will post
  // nothing more), its child is reaped and its partial result removed.
  bool Finished() const;
  // Waits up to timeout for Finished.
  bool WaitFinished(std::chrono::milliseconds timeout) const;
  // Called once, on the thread that finishes the run, right after it is marked finished. It
  // must not block or release the last handle of the run.
  void SetFinishedHook(std::function<void()> hook);

 protected:
  void MarkFinished();

 private:
  const int runId_;
  const OperationKind kind_;
  const int taskId_;
  mutable std::mutex finishLock_;
  mutable std::condition_variable finishedChanged_;
  bool finished_ = false;
  std::function<void()> hook_;
};

}  // namespace tw
