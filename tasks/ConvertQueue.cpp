#include "tasks/ConvertQueue.h"

#include <glog/logging.h>

#include <algorithm>

#include "app/Messages.h"

namespace tw {

ConvertQueue::ConvertQueue(TaskMap& tasks, MessageSink* sink, ContextProvider context, TranscoderRuns* runs)
    : tasks_(tasks), sink_(sink), context_(std::move(context)), runs_(runs) {}

ConvertQueue::~ConvertQueue() {
  Stop();
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

void ConvertQueue::SetOptions(const ConvertOptions& options) {
  std::lock_guard<std::mutex> hold(queueLock);
  options_ = options;
}

ConvertOptions ConvertQueue::Options() const {
  std::lock_guard<std::mutex> hold(queueLock);
  return options_;
}

void ConvertQueue::EnqueueOne(int taskId) {
  {
    std::lock_guard<std::mutex> hold(queueLock);
    idleTaskList.push_back(taskId);
  }
  queueWake.notify_one();
}

std::string ConvertQueue::EnqueueAll(const std::vector<int>& rowIds) {
  if (rowIds.empty()) return kMsgConvertNoFiles;
  {
    std::lock_guard<std::mutex> hold(queueLock);
    for (int id : rowIds) {
      if (std::find(idleTaskList.begin(), idleTaskList.end(), id) == idleTaskList.end())
        idleTaskList.push_back(id);
    }
  }
  queueWake.notify_one();
  return "";
}

bool ConvertQueue::Forget(int taskId) {
  std::lock_guard<std::mutex> hold(queueLock);
  const size_t before = idleTaskList.size();
  idleTaskList.remove(taskId);
  return idleTaskList.size() != before;
}

bool ConvertQueue::Drop(int taskId) {
  bool waited = false;
  {
    std::lock_guard<std::mutex> hold(queueLock);
    const size_t before = idleTaskList.size();
    idleTaskList.remove(taskId);
    waited = idleTaskList.size() != before;
    if (std::find(busyTaskList.begin(), busyTaskList.end(), taskId) != busyTaskList.end())
      dropped_.insert(taskId);
  }
  if (runs_) runs_->End(OperationKind::Convert, taskId);
  return waited;
}

CompletionResult ConvertQueue::Complete(int taskId, bool success) {
  CompletionResult result;
  {
    std::lock_guard<std::mutex> hold(queueLock);
    const auto it = std::find(busyTaskList.begin(), busyTaskList.end(), taskId);
    if (it != busyTaskList.end()) {
      busyTaskList.erase(it);
      dropped_.erase(taskId);
      result.removed = true;
      LOG(INFO) << "busyTaskList task_id: " << taskId;
    }
    result.queueIdle = idleTaskList.empty() && busyTaskList.empty();
    LOG(INFO) << "busyTaskList size: " << busyTaskList.size() << (success ? "" : " (after a failure)");
  }
  queueWake.notify_one();
  return result;
}

std::optional<CompletionResult> ConvertQueue::CompleteFromMessage(const Message& message) {
  if (message.id == WM_TASK_DONE) {
    const auto* done = message.As<FinishRecord>();
    if (done && done->kind == OperationKind::Convert) return Complete(done->taskId, true);
  } else if (message.id == WM_TASK_FAILED) {
    const auto* failed = message.As<FailureRecord>();
    if (failed && failed->kind == OperationKind::Convert) return Complete(failed->taskId, false);
  }
  return std::nullopt;
}

std::vector<int> ConvertQueue::IdleTasks() const {
  std::lock_guard<std::mutex> hold(queueLock);
  return {idleTaskList.begin(), idleTaskList.end()};
}

std::vector<int> ConvertQueue::BusyTasks() const {
  std::lock_guard<std::mutex> hold(queueLock);
  return {busyTaskList.begin(), busyTaskList.end()};
}

void ConvertQueue::ConvertWorker() {
  for (;;) {
    int taskId = 0;
    {
      std::unique_lock<std::mutex> hold(queueLock);
      queueWake.wait(hold, [this] { return stopping_ || (busyTaskList.empty() && !idleTaskList.empty()); });
      if (stopping_) return;
      taskId = idleTaskList.front();
      idleTaskList.pop_front();
      // Marked running before the child starts: a child that ends at once may be completed
      // by the owner before StartTranscoder has even returned here.
      busyTaskList.push_back(taskId);
      LOG(INFO) << "idleTaskList task_id: " << taskId;
    }
    if (!StartTask(taskId)) {
      {
        std::lock_guard<std::mutex> hold(queueLock);
        const auto it = std::find(busyTaskList.begin(), busyTaskList.end(), taskId);
        if (it != busyTaskList.end()) busyTaskList.erase(it);
        dropped_.erase(taskId);
      }
      // The row shows the failure through the owner's usual failure path, which also
      // restores "all-convert-btn" when nothing else waits; the queue goes on meanwhile.
      auto record = std::make_unique<FailureRecord>();
      record->taskId = taskId;
      record->kind = OperationKind::Convert;
      if (sink_) sink_->Post(Message(WM_TASK_FAILED, std::move(record)));
    }
  }
}

bool ConvertQueue::StartTask(int taskId) {
  const FileEntry entry = tasks_.Lookup(taskId);
  if (sink_)
    PostRecord<RowRequestRecord>(sink_, WM_CONVERT_ROW_REQUEST, taskId,
                                 RowRequestRecord::Action::ShowProgress);
  const ConvertOptions options = Options();
  const BuiltCommand built =
      BuildConvertCommand(entry, options, context_ ? context_() : CurrentCommandContext());
  if (sink_)
    PostRecord<RowRequestRecord>(sink_, WM_CONVERT_ROW_REQUEST, taskId,
                                 RowRequestRecord::Action::ResetProgress);
  if (!built.ok) {
    LOG(ERROR) << "convert task " << taskId << " not started: " << built.message;
    return false;
  }
  const auto run = runs_ ? runs_->Start(built.command, taskId, OperationKind::Convert, sink_)
                         : StartTranscoder(built.command, taskId, OperationKind::Convert, sink_);
  if (!run) {
    LOG(ERROR) << "convert task " << taskId << ": the transcoder could not be started";
    return false;
  }
  // The row went while its run was being started: Drop could not find the run to end it.
  std::lock_guard<std::mutex> hold(queueLock);
  if (dropped_.count(taskId)) run->End();
  return true;
}

}  // namespace tw
