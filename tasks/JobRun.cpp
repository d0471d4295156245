#include "tasks/JobRun.h"

#include <atomic>

namespace tw {

int NextRunId() {
  static std::atomic<int> next{1};
  return next++;
}

bool JobRun::Finished() const {
  std::lock_guard<std::mutex> hold(finishLock_);
  return finished_;
}

bool JobRun::WaitFinished(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> hold(finishLock_);
  return finishedChanged_.wait_for(hold, timeout, [this] { return finished_; });
}

void JobRun::SetFinishedHook(std::function<void()> hook) {
  bool already = false;
  {
    std::lock_guard<std::mutex> hold(finishLock_);
    already = finished_;
    if (!already) hook_ = std::move(hook);
  }
  if (already && hook) hook();
}

void JobRun::MarkFinished() {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> hold(finishLock_);
    if (finished_) return;
    finished_ = true;
    hook = std::move(hook_);
    finishedChanged_.notify_all();
  }
  if (hook) hook();
}

}  // namespace tw
