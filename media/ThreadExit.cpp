#include "media/ThreadExit.h"

#include <glog/logging.h>

namespace tw {

namespace {

constexpr std::chrono::milliseconds kSlice{200};
// With a pump the window must stay responsive, so the wait is cut finer.
constexpr std::chrono::milliseconds kPumpSlice{20};

const ExitFlag* FirstUnexited(const std::vector<const ExitFlag*>& flags) {
  for (const ExitFlag* flag : flags) {
    if (flag && !flag->Exited()) return flag;
  }
  return nullptr;
}

}  // namespace

void ExitFlag::Reset() {
  std::lock_guard<std::mutex> hold(lock_);
  exited_ = false;
}

void ExitFlag::MarkExited() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    exited_ = true;
  }
  changed_.notify_all();
}

bool ExitFlag::Exited() const {
  std::lock_guard<std::mutex> hold(lock_);
  return exited_;
}

bool ExitFlag::WaitFor(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, timeout, [this] { return exited_; });
}

void WaitForExit(const std::vector<const ExitFlag*>& flags, const MessagePump& pump, const ExitWaitLog& log) {
  const auto slice = pump ? kPumpSlice : kSlice;
  auto sinceLog = std::chrono::milliseconds::zero();
  while (const ExitFlag* waiting = FirstUnexited(flags)) {
    if (waiting->WaitFor(slice)) continue;
    sinceLog += slice;
    if (sinceLog >= kSlice) {
      sinceLog = std::chrono::milliseconds::zero();
      const bool first = flags.empty() || !flags[0] || flags[0]->Exited();
      const bool second = flags.size() > 1 && flags[1] ? flags[1]->Exited() : first;
      LOG(INFO) << log.timeoutPrefix << first << ": " << second;
    }
    if (pump) pump();
  }
  LOG(INFO) << log.exitLine;
}

}  // namespace tw
