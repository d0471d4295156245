// The convert page's queue: waiting task ids (idleTaskList), the one running task
// (busyTaskList), and the single worker ConvertWorker that starts one transcoder run at a time.
//
// Threads: ConvertQueue is owned by the main window (or the CLI); Start() starts
// ConvertWorker, the destructor stops it (stop flag + queueWake) and joins it. EnqueueOne,
// EnqueueAll, Complete and SetOptions are called on the owner's thread; every list access on
// either thread holds queueLock.
// Options: the page calls SetOptions whenever a convert choice changes; the worker copies that
// snapshot (under queueLock) when a task starts, so a task runs with the choices of its start.
// Rows: the worker never touches the window; it posts WM_CONVERT_ROW_REQUEST with a
// RowRequestRecord, and the window applies it to the row named RowName(taskId).
#pragma once

#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/MessageSink.h"
#include "tasks/Commands.h"
#include "tasks/TaskRecords.h"

namespace tw {

inline constexpr const char* kMsgConvertNoFiles = "请先添加要转换的文件!";
inline constexpr const char* kAllConvertIdleText = "一键转换";  // "all-convert-btn" taking clicks
inline constexpr const char* kAllConvertBusyText = "转换中";    // "all-convert-btn" while queued
inline constexpr const char* kConvertRetryText = "压 缩";       // "convertBtn" after a failure

// WM_CONVERT_ROW_REQUEST: a row change of a starting convert task.
struct RowRequestRecord : MessageRecord {
  enum class Action {
    // When the row's "progress-container" is hidden: show it and "progress-label", hide
    // "errorLabel".
    ShowProgress,
    // Set "convert-progress" to 0 and let "convertBtn" ignore the mouse.
    ResetProgress,
  };
  int taskId = 0;
  Action action = Action::ShowProgress;

  RowRequestRecord(int id, Action a) : taskId(id), action(a) {}
};

// What Complete did: whether the id was the running task, and whether both lists are now
// empty, in which case "all-convert-btn" takes clicks again and reads kAllConvertIdleText
// (after a success or a failure alike).
struct CompletionResult {
  bool removed = false;
  bool queueIdle = false;
};

class ConvertQueue {
 public:
  using ContextProvider = std::function<CommandContext()>;

  // tasks and sink must outlive the queue and every run it started. context is asked on the
  // worker thread when a task starts (transcoder, output folder, timestamp, bit rate). runs,
  // when given, keeps every run the queue starts, so that its owner can end them.
  ConvertQueue(TaskMap& tasks, MessageSink* sink, ContextProvider context = CurrentCommandContext,
               TranscoderRuns* runs = nullptr);
  ~ConvertQueue();
  ConvertQueue(const ConvertQueue&) = delete;
  ConvertQueue& operator=(const ConvertQueue&) = delete;

  // Starts ConvertWorker once; later calls do nothing.
  void Start();
  // Ends ConvertWorker for good (it starts no task after this returns); the destructor does
  // the same. A run already started goes on.
  void Stop();

  // The page's current convert choices (thread-safe snapshot).
  void SetOptions(const ConvertOptions& options);
  ConvertOptions Options() const;

  // "convertBtn" of a row: queue its id and wake the worker. The caller has already made
  // the button ignore the mouse.
  void EnqueueOne(int taskId);
  // "all-convert-btn": rowIds in list order. Empty → kMsgConvertNoFiles and nothing is
  // queued; otherwise "" and each id not already waiting is queued (a running one again).
  std::string EnqueueAll(const std::vector<int>& rowIds);
  // Its waiting occurrences leave the queue (a running one goes on). True when one was waiting.
  bool Forget(int taskId);
  // A row removed from the list: Forget, and its conversion, running or being started, ends
  // (through the runs given to the queue; its final message still comes).
  bool Drop(int taskId);
  // WM_TASK_DONE / WM_TASK_FAILED of kind Convert: release the running task, wake the worker.
  CompletionResult Complete(int taskId, bool success);
  // Complete for a task message of kind Convert; nothing for other messages.
  std::optional<CompletionResult> CompleteFromMessage(const Message& message);

  std::vector<int> IdleTasks() const;
  std::vector<int> BusyTasks() const;

 private:
  void ConvertWorker();
  // Builds and starts one task (worker thread, queueLock not held). False when nothing runs.
  bool StartTask(int taskId);

  TaskMap& tasks_;
  MessageSink* sink_;
  ContextProvider context_;
  TranscoderRuns* runs_;

  mutable std::mutex queueLock;
  std::condition_variable queueWake;
  std::list<int> idleTaskList;
  std::list<int> busyTaskList;
  std::set<int> dropped_;  // running tasks whose row went, perhaps while they were being started
  ConvertOptions options_;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace tw
