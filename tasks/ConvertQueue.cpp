#include "tasks/ConvertQueue.h"

#include <glog/logging.h>

#include <algorithm>
#include <cerrno>

#include "app/Messages.h"
#include "tasks/Transcoder.h"

namespace tw {

// The queue as its runs see it: a run that finishes after the queue went finds null.
struct ConvertQueue::Link {
  std::mutex lock;
  ConvertQueue* queue = nullptr;
};

JobStarter MakeTranscoderStarter(JobKey key, MessageSink* sink,
                                 std::function<BuiltCommand(const CommandContext&)> build,
                                 std::function<CommandContext()> context) {
  return [key, sink, build = std::move(build), context = std::move(context)](int runId) {
    PreparedJob job;
    const BuiltCommand built = build(context ? context() : CurrentCommandContext());
    if (!built.ok) {
      LOG(ERROR) << "task " << key.taskId << " not started: " << built.message;
      job.refusal = FailureReason::Failed;
      job.detail = built.message;
      return job;
    }
    job.refusal = CheckResultPath(built.outputPath);
    if (job.refusal != FailureReason::None) return job;
    job.start = [key, sink, command = built.command, runId](FailureReason* why) -> std::shared_ptr<JobRun> {
      int error = 0;
      auto run = StartTranscoder(command, key.taskId, key.kind, sink, runId, &error);
      if (!run) {
        LOG(ERROR) << "task " << key.taskId << ": the transcoder could not be started";
        *why = ReasonOfStartError(error);
      }
      return run;
    };
    return job;
  };
}

ConvertQueue::ConvertQueue(TaskMap& tasks, MessageSink* sink, ContextProvider context)
    : tasks_(tasks), sink_(sink), context_(std::move(context)), link_(std::make_shared<Link>()) {
  link_->queue = this;
}

ConvertQueue::~ConvertQueue() {
  Stop();
  {
    std::lock_guard<std::mutex> hold(link_->lock);
    link_->queue = nullptr;
  }
  std::vector<std::shared_ptr<JobRun>> runs;
  {
    std::lock_guard<std::mutex> hold(queueLock);
    runs.swap(runs_);
  }
}

void ConvertQueue::Stop() {
  {
    std::lock_guard<std::mutex> hold(queueLock);
    stopping_ = true;
  }
  queueWake.notify_all();
  if (worker_.joinable()) worker_.join();
}

void ConvertQueue::Start() {
  std::lock_guard<std::mutex> hold(queueLock);
  if (!worker_.joinable() && !stopping_) worker_ = std::thread(&ConvertQueue::ConvertWorker, this);
}

void ConvertQueue::EndAll(std::chrono::milliseconds timeout) {
  Stop();
  std::vector<std::shared_ptr<JobRun>> runs;
  {
    std::lock_guard<std::mutex> hold(queueLock);
    idleTaskList.clear();
    busyTaskList.clear();
    runs = runs_;
  }
  for (const auto& run : runs) run->End();
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (const auto& run : runs) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (!run->WaitFinished(std::max(left, std::chrono::milliseconds(0))))
      LOG(ERROR) << "run of task " << run->TaskId() << " still going at the end";
  }
}

void ConvertQueue::SetOptions(const ConvertOptions& options) {
  std::lock_guard<std::mutex> hold(queueLock);
  options_ = options;
}

ConvertOptions ConvertQueue::Options() const {
  std::lock_guard<std::mutex> hold(queueLock);
  return options_;
}

void ConvertQueue::SetSlots(int slots) {
  {
    std::lock_guard<std::mutex> hold(queueLock);
    slots_ = std::max(1, slots);
  }
  queueWake.notify_all();
}

int ConvertQueue::Slots() const {
  std::lock_guard<std::mutex> hold(queueLock);
  return slots_;
}

void ConvertQueue::EnqueueOne(int taskId) {
  Enqueue({OperationKind::Convert, taskId}, nullptr, false);
}

std::string ConvertQueue::EnqueueAll(const std::vector<int>& rowIds) {
  if (rowIds.empty()) return Tr("ConvertQueue", kMsgConvertNoFiles);
  for (int id : rowIds) Enqueue({OperationKind::Convert, id}, nullptr, false);
  return "";
}

bool ConvertQueue::Enqueue(JobKey key, JobStarter start, bool immediate) {
  {
    std::lock_guard<std::mutex> hold(queueLock);
    for (const Waiting& w : idleTaskList)
      if (w.key == key) return false;
    idleTaskList.push_back({key, std::move(start), immediate});
  }
  queueWake.notify_all();
  return true;
}

CancelResult ConvertQueue::Cancel(JobKey key) {
  CancelResult result;
  std::shared_ptr<JobRun> run;
  {
    std::lock_guard<std::mutex> hold(queueLock);
    const size_t before = idleTaskList.size();
    idleTaskList.remove_if([&](const Waiting& w) { return w.key == key; });
    result.waited = idleTaskList.size() != before;
    const auto busy = FindBusy(key);
    if (busy != busyTaskList.end()) {
      run = busy->run;
      // Ended here, under the lock, so that the worker cannot hand the run over meanwhile.
      if (run && !run->End()) {
        result.tooLate = true;
      } else {
        result.ended = true;
        busyTaskList.erase(busy);
      }
    }
  }
  queueWake.notify_all();
  if (result.ended) LOG(INFO) << "task " << key.taskId << " of page " << int(key.kind) << " cancelled";
  return result;
}

bool ConvertQueue::Forget(int taskId) {
  std::lock_guard<std::mutex> hold(queueLock);
  const size_t before = idleTaskList.size();
  idleTaskList.remove_if([&](const Waiting& w) { return w.key == JobKey{OperationKind::Convert, taskId}; });
  return idleTaskList.size() != before;
}

bool ConvertQueue::Drop(int taskId) {
  return Cancel({OperationKind::Convert, taskId}).waited;
}

std::list<ConvertQueue::Busy>::iterator ConvertQueue::FindBusy(JobKey key) {
  return std::find_if(busyTaskList.begin(), busyTaskList.end(), [&](const Busy& b) { return b.key == key; });
}

std::list<ConvertQueue::Busy>::const_iterator ConvertQueue::FindBusy(JobKey key) const {
  return std::find_if(busyTaskList.begin(), busyTaskList.end(), [&](const Busy& b) { return b.key == key; });
}

bool ConvertQueue::Holds(JobKey key) const {
  std::lock_guard<std::mutex> hold(queueLock);
  if (FindBusy(key) != busyTaskList.end()) return true;
  return std::any_of(idleTaskList.begin(), idleTaskList.end(),
                     [&](const Waiting& w) { return w.key == key; });
}

bool ConvertQueue::IsWaiting(JobKey key) const {
  std::lock_guard<std::mutex> hold(queueLock);
  return std::any_of(idleTaskList.begin(), idleTaskList.end(),
                     [&](const Waiting& w) { return w.key == key; });
}

bool ConvertQueue::IsCurrent(JobKey key, int runId) const {
  std::lock_guard<std::mutex> hold(queueLock);
  const auto busy = FindBusy(key);
  return busy != busyTaskList.end() && busy->runId == runId;
}

CompletionResult ConvertQueue::Complete(JobKey key, int runId, bool success) {
  CompletionResult result;
  std::vector<std::shared_ptr<JobRun>> finished;
  {
    std::lock_guard<std::mutex> hold(queueLock);
    finished = TakeFinished();
    const auto it = std::find_if(busyTaskList.begin(), busyTaskList.end(), [&](const Busy& b) {
      return b.key == key && (runId == 0 || b.runId == runId);
    });
    if (it != busyTaskList.end()) {
      busyTaskList.erase(it);
      result.removed = true;
      LOG(INFO) << "busyTaskList task_id: " << key.taskId;
    }
    result.queueIdle = std::none_of(idleTaskList.begin(), idleTaskList.end(),
                                    [&](const Waiting& w) { return w.key.kind == key.kind; }) &&
                       std::none_of(busyTaskList.begin(), busyTaskList.end(),
                                    [&](const Busy& b) { return b.key.kind == key.kind; });
    LOG(INFO) << "busyTaskList size: " << busyTaskList.size() << (success ? "" : " (after a failure)");
  }
  queueWake.notify_all();
  return result;
}

CompletionResult ConvertQueue::Complete(int taskId, bool success) {
  return Complete({OperationKind::Convert, taskId}, 0, success);
}

std::optional<CompletionResult> ConvertQueue::CompleteFromMessage(const Message& message) {
  std::optional<JobKey> key;
  bool success = false;
  if (message.id == WM_TASK_DONE) {
    if (const auto* done = message.As<FinishRecord>()) key = JobKey{done->kind, done->taskId};
    success = true;
  } else if (message.id == WM_TASK_FAILED) {
    if (const auto* failed = message.As<FailureRecord>()) key = JobKey{failed->kind, failed->taskId};
  }
  if (!key || !IsCurrent(*key, message.runId)) return std::nullopt;
  return Complete(*key, message.runId, success);
}

std::vector<int> ConvertQueue::IdleTasks(OperationKind kind) const {
  std::lock_guard<std::mutex> hold(queueLock);
  std::vector<int> ids;
  for (const Waiting& w : idleTaskList)
    if (w.key.kind == kind) ids.push_back(w.key.taskId);
  return ids;
}

std::vector<int> ConvertQueue::BusyTasks(OperationKind kind) const {
  std::lock_guard<std::mutex> hold(queueLock);
  std::vector<int> ids;
  for (const Busy& b : busyTaskList)
    if (b.key.kind == kind) ids.push_back(b.key.taskId);
  return ids;
}

bool ConvertQueue::Idle(OperationKind kind) const {
  return IdleTasks(kind).empty() && BusyTasks(kind).empty();
}

size_t ConvertQueue::Pending() const {
  std::lock_guard<std::mutex> hold(queueLock);
  return idleTaskList.size() + busyTaskList.size();
}

size_t ConvertQueue::Running() const {
  std::lock_guard<std::mutex> hold(queueLock);
  return static_cast<size_t>(starting_) +
         static_cast<size_t>(
             std::count_if(runs_.begin(), runs_.end(), [](const auto& run) { return !run->Finished(); }));
}

std::vector<std::shared_ptr<JobRun>> ConvertQueue::TakeFinished() {
  std::vector<std::shared_ptr<JobRun>> finished;
  for (auto it = runs_.begin(); it != runs_.end();) {
    if ((*it)->Finished()) {
      finished.push_back(std::move(*it));
      it = runs_.erase(it);
    } else {
      ++it;
    }
  }
  return finished;
}

// A run has finished (on its own thread): jobs waiting for its result's name may go.
// A slot is free: the worker looks for a job to start. Takes no lock: a run may finish while
// Cancel, which holds the queue's lock, ends it.
void ConvertQueue::OnRunFinished() {
  queueWake.notify_all();
}

std::list<ConvertQueue::Waiting>::iterator ConvertQueue::FindStartable() {
  // Every job takes a slot; one pressed on a page goes before the queued ones.
  if (static_cast<int>(busyTaskList.size()) >= slots_) return idleTaskList.end();
  auto first = idleTaskList.end();
  for (auto it = idleTaskList.begin(); it != idleTaskList.end(); ++it) {
    if (FindBusy(it->key) != busyTaskList.end()) continue;
    if (it->immediate) return it;
    if (first == idleTaskList.end()) first = it;
  }
  return first;
}

bool ConvertQueue::SlotFree() const {
  std::lock_guard<std::mutex> hold(queueLock);
  const auto ahead = std::count_if(idleTaskList.begin(), idleTaskList.end(), [](const Waiting& w) { return w.immediate; });
  return static_cast<int>(busyTaskList.size() + static_cast<size_t>(ahead)) < slots_;
}

void ConvertQueue::ConvertWorker() {
  for (;;) {
    Waiting job;
    const int runId = NextRunId();
    std::vector<std::shared_ptr<JobRun>> finished;
    {
      std::unique_lock<std::mutex> hold(queueLock);
      auto next = idleTaskList.end();
      queueWake.wait(hold, [&] { return stopping_ || (next = FindStartable()) != idleTaskList.end(); });
      if (stopping_) return;
      job = std::move(*next);
      idleTaskList.erase(next);
      // Marked running before the job starts: a child that ends at once may be completed by the
      // owner before its start has even returned here.
      busyTaskList.push_back({job.key, runId, job.immediate, nullptr});
      ++starting_;
      LOG(INFO) << "idleTaskList task_id: " << job.key.taskId;
      finished = TakeFinished();
    }
    finished.clear();  // outside the lock: an engine's end may wait for its threads
    StartJob(std::move(job), runId);
  }
}

PreparedJob ConvertQueue::PrepareConvert(int taskId, int runId) {
  const ConvertOptions options = Options();
  const FileEntry entry = tasks_.Lookup(taskId);
  const ContextProvider context = context_;
  JobStarter starter = MakeTranscoderStarter(
      {OperationKind::Convert, taskId}, sink_,
      [entry, options](const CommandContext& ctx) { return BuildConvertCommand(entry, options, ctx); },
      context ? context : ContextProvider(CurrentCommandContext));
  return starter(runId);
}

void ConvertQueue::StartJob(Waiting job, int runId) {
  PreparedJob prepared = job.start ? job.start(runId) : PrepareConvert(job.key.taskId, runId);
  if (sink_) {
    PostRecord<RowRequestRecord>(sink_, WM_JOB_ROW_REQUEST, job.key.kind, job.key.taskId,
                                 RowRequestRecord::Action::ShowProgress);
    // Posted with the run id so that the row takes it only from its current job.
    sink_->Post(Message(WM_JOB_ROW_REQUEST,
                        std::make_unique<RowRequestRecord>(job.key.kind, job.key.taskId,
                                                           RowRequestRecord::Action::ResetProgress),
                        0, runId));
  }
  FailureReason why = prepared.refusal;
  std::shared_ptr<JobRun> run;
  if (why == FailureReason::None) {
    why = FailureReason::StartFailed;
    run = prepared.start ? prepared.start(&why) : nullptr;
  }
  if (!run) {
    {
      std::lock_guard<std::mutex> hold(queueLock);
      --starting_;
    }
    PostStartFailure(job.key, runId, why, prepared.detail);
    return;
  }
  bool cancelled = false;
  {
    std::lock_guard<std::mutex> hold(queueLock);
    --starting_;
    runs_.push_back(run);
    const auto busy = std::find_if(busyTaskList.begin(), busyTaskList.end(),
                                   [&](const Busy& b) { return b.runId == runId; });
    if (busy == busyTaskList.end())
      cancelled = true;
    else
      busy->run = run;
  }
  // The row was cancelled while its job was being started: Cancel found no run to end.
  if (cancelled) run->End();
  std::weak_ptr<Link> link = link_;
  run->SetFinishedHook([link] {
    if (auto alive = link.lock()) {
      std::lock_guard<std::mutex> hold(alive->lock);
      if (alive->queue) alive->queue->OnRunFinished();
    }
  });
}

// The row shows the failure through the owner's usual failure path, which also releases the
// job's slot; the queue goes on meanwhile.
void ConvertQueue::PostStartFailure(JobKey key, int runId, FailureReason reason, const std::string& detail) {
  LOG(ERROR) << "task " << key.taskId << " of page " << int(key.kind)
             << " not started: " << ReasonEnglish(reason);
  auto record = std::make_unique<FailureRecord>();
  record->taskId = key.taskId;
  record->kind = key.kind;
  record->reason = reason;
  record->outputTail = detail;
  if (sink_) sink_->Post(Message(WM_TASK_FAILED, std::move(record), 0, runId));
}

}  // namespace tw
