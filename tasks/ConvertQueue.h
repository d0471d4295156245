// The window's one queue of row jobs, with the single worker ConvertWorker that starts them. It
// began as the convert page's queue (idleTaskList, busyTaskList) and now carries the jobs of
// every page: the convert rows, the rows of every page's run-all button, and the rows pressed on
// the pages that start at once (cut exports, the merge, speed, extract, noise, volume and
// background music), which pass the waiting ones but still go through the worker, so that every
// job has one handle (JobRun), one way to be cancelled and one way to report.
//
// Slots: at most Slots() jobs run at once (the setting "parallel-jobs"; 1 keeps the design's one
// job at a time), whichever page they come from; a job pressed on a page that starts at once
// goes before the queued ones when a slot frees.
//
// Threads: the queue is owned by the main window (or a benchmark); Start() starts ConvertWorker,
// Stop() and the destructor stop it (stop flag + queueWake) and join it. Every other call is
// made on the owner's thread; every list access on either thread holds queueLock. The worker
// never touches the window: it posts WM_JOB_ROW_REQUEST (RowRequestRecord) when a job starts and
// WM_TASK_FAILED when one cannot start; runs post their own messages. Every message of a run
// carries its run id, by which the owner tells the current run of a row from an ended one.
// Options: the convert page calls SetOptions whenever a convert choice changes; the worker copies
// that snapshot (under queueLock) when a convert task starts. Other pages' jobs carry the choices
// of the moment they were queued in their starters.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/MessageSink.h"
#include "app/Translation.h"
#include "tasks/Commands.h"
#include "tasks/FailureReason.h"
#include "tasks/JobRun.h"
#include "tasks/TaskRecords.h"

namespace tw {

inline constexpr const char* kMsgConvertNoFiles = TW_TRANSLATE_NOOP("ConvertQueue", "请先添加要转换的文件!");
inline constexpr const char* kAllConvertIdleText =
    TW_TRANSLATE_NOOP("ConvertQueue", "一键转换");  // "all-convert-btn" taking clicks
inline constexpr const char* kAllConvertBusyText =
    TW_TRANSLATE_NOOP("ConvertQueue", "转换中");  // "all-convert-btn" while queued
inline constexpr const char* kConvertRetryText =
    TW_TRANSLATE_NOOP("ConvertQueue", "压 缩");  // "convertBtn" after a failure

// A row's job: the page (list code) and the row's task id.
struct JobKey {
  OperationKind kind = OperationKind::Convert;
  int taskId = 0;
  bool operator==(const JobKey&) const = default;
};

// WM_JOB_ROW_REQUEST: a row change of a job the worker starts now (the message carries the
// run id).
struct RowRequestRecord : MessageRecord {
  enum class Action {
    // Convert rows: when the row's "progress-container" is hidden, show it and "progress-label",
    // hide "errorLabel".
    ShowProgress,
    // The row runs: its progress shows 0 and its action button offers the cancel.
    ResetProgress,
  };
  OperationKind kind = OperationKind::Convert;
  int taskId = 0;
  Action action = Action::ShowProgress;

  RowRequestRecord(int id, Action a) : taskId(id), action(a) {}
  RowRequestRecord(OperationKind k, int id, Action a) : kind(k), taskId(id), action(a) {}
};

// What the queue does with a job it is about to start (worker thread).
struct PreparedJob {
  // Why it cannot start (None: start it), and what to show beside the reason.
  FailureReason refusal = FailureReason::None;
  std::string detail;
  // Starts it; null with *why set when it could not be started.
  std::function<std::shared_ptr<JobRun>(FailureReason* why)> start;
};
// Prepares a job with the run id it will carry (worker thread, queueLock not held). Jobs whose
// results share a name run at once: each publishes a name of its own (ResultFile).
using JobStarter = std::function<PreparedJob(int runId)>;

// A starter for a transcoder job of a row: build gets the context of the moment it starts.
JobStarter MakeTranscoderStarter(JobKey key, MessageSink* sink,
                                 std::function<BuiltCommand(const CommandContext&)> build,
                                 std::function<CommandContext()> context = CurrentCommandContext);

// What Complete did: whether the id was the running task, and whether no job of its page waits
// or runs any more, in which case the page's run-all button ("all-convert-btn", ...) takes clicks
// again (after a success, a failure or a cancel alike).
struct CompletionResult {
  bool removed = false;
  bool queueIdle = false;
};

// What Cancel did.
struct CancelResult {
  bool waited = false;   // the row's job was waiting and left the queue
  bool ended = false;    // its running job was ended (its slot is free at once)
  bool tooLate = false;  // its run had already ended by itself: its own final message follows
};

class ConvertQueue {
 public:
  using ContextProvider = std::function<CommandContext()>;

  // tasks and sink must outlive the queue and every run it started. context is asked on the
  // worker thread when a convert task starts (transcoder, output folder, timestamp, bit rate).
  ConvertQueue(TaskMap& tasks, MessageSink* sink, ContextProvider context = CurrentCommandContext);
  ~ConvertQueue();
  ConvertQueue(const ConvertQueue&) = delete;
  ConvertQueue& operator=(const ConvertQueue&) = delete;

  // Starts ConvertWorker once; later calls do nothing.
  void Start();
  // Ends ConvertWorker for good (it starts no job after this returns); the destructor does the
  // same. Runs already started go on.
  void Stop();
  // Stop, forget every waiting job, end every run and wait up to timeout until each has finished
  // (child reaped, partial result removed). For the owner's end.
  void EndAll(std::chrono::milliseconds timeout);

  // The page's current convert choices (thread-safe snapshot).
  void SetOptions(const ConvertOptions& options);
  ConvertOptions Options() const;
  // How many queued jobs may run at once (raised to 1).
  void SetSlots(int slots);
  int Slots() const;

  // "convertBtn" of a row: queue its id and wake the worker.
  void EnqueueOne(int taskId);
  // "all-convert-btn": rowIds in list order. Empty → kMsgConvertNoFiles and nothing is
  // queued; otherwise "" and each id not already waiting is queued (a running one again).
  std::string EnqueueAll(const std::vector<int>& rowIds);
  // A job of any page. immediate: it takes the next free slot before the queued jobs.
  // False (nothing queued) when the row already waits.
  bool Enqueue(JobKey key, JobStarter start, bool immediate);

  // Ends a row's job: a waiting one leaves the queue, a running one is ended (its slot is free
  // at once; its run finishes soon and removes what it wrote). Messages of the ended run are no
  // longer current.
  CancelResult Cancel(JobKey key);
  // A convert row's waiting occurrences leave the queue (a running one goes on). True when one
  // was waiting.
  bool Forget(int taskId);
  // A convert row removed from the list: Cancel. True when it was waiting.
  bool Drop(int taskId);

  // True when a job pressed now would start at once: a slot is free and no pressed job waits.
  bool SlotFree() const;
  // True while the row's job waits or runs (until its final report is handled).
  bool Holds(JobKey key) const;
  bool IsWaiting(JobKey key) const;
  // True when runId is the row's running job: its messages are to be shown.
  bool IsCurrent(JobKey key, int runId) const;

  // The final report of a row's run (WM_TASK_DONE / WM_TASK_FAILED, WM_NOISE_DONE): release its
  // slot and wake the worker. runId 0 takes the row's running job whatever its run.
  CompletionResult Complete(JobKey key, int runId, bool success);
  // The convert task's running job.
  CompletionResult Complete(int taskId, bool success);
  // Complete for a task message of any kind (its run id must be current); nothing otherwise.
  std::optional<CompletionResult> CompleteFromMessage(const Message& message);

  std::vector<int> IdleTasks(OperationKind kind = OperationKind::Convert) const;
  std::vector<int> BusyTasks(OperationKind kind = OperationKind::Convert) const;
  // No job of the page waits or runs.
  bool Idle(OperationKind kind) const;
  // Jobs that wait or run, of every page.
  size_t Pending() const;
  // Runs that have not finished, ended ones still going included.
  size_t Running() const;

 private:
  struct Waiting {
    JobKey key;
    JobStarter start;  // null: a convert task
    bool immediate = false;
  };
  struct Busy {
    JobKey key;
    int runId = 0;
    bool immediate = false;
    std::shared_ptr<JobRun> run;  // null while it starts, or when it could not start
  };
  struct Link;

  void ConvertWorker();
  // The first waiting job that may start now (queueLock held).
  std::list<Waiting>::iterator FindStartable();
  // Prepares and starts one job (worker thread, queueLock not held).
  void StartJob(Waiting job, int runId);
  PreparedJob PrepareConvert(int taskId, int runId);
  void PostStartFailure(JobKey key, int runId, FailureReason reason, const std::string& detail);
  void OnRunFinished();
  // Moves finished runs out of runs_ (queueLock held); the caller lets them go unlocked.
  std::vector<std::shared_ptr<JobRun>> TakeFinished();
  std::list<Busy>::iterator FindBusy(JobKey key);
  std::list<Busy>::const_iterator FindBusy(JobKey key) const;

  TaskMap& tasks_;
  MessageSink* sink_;
  ContextProvider context_;
  std::shared_ptr<Link> link_;  // lets runs that outlive the queue find it gone

  mutable std::mutex queueLock;
  std::condition_variable queueWake;
  std::list<Waiting> idleTaskList;
  std::list<Busy> busyTaskList;
  std::vector<std::shared_ptr<JobRun>> runs_;  // started and not yet finished
  int starting_ = 0;                           // jobs the worker is starting: their runs are not in runs_ yet
  ConvertOptions options_;
  int slots_ = 1;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace tw
