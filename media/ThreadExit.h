// How an owner on the window thread waits for its worker threads without freezing the
// window: it waits in slices of at most 200 ms and, between slices, lets the owner serve
// its own messages through a pump callback (the UI passes one that processes its events;
// the core and the CLI pass none and just wait).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tw {

// Serves the owner's pending messages once and returns. Runs on the waiting thread.
using MessagePump = std::function<void()>;

// The "I am done" mark of one worker thread. The worker calls MarkExited() as its last
// action; the owner resets it before starting the worker. Any thread may call any member.
class ExitFlag {
 public:
  void Reset();
  void MarkExited();
  bool Exited() const;
  // True once marked; waits at most `timeout` for it.
  bool WaitFor(std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  bool exited_ = false;
};

// Log lines of one waiter, e.g. {"AudioPlayer Decode Thread MsgWaitForMultipleObjects Exit",
// "AudioPlayer Decode Thread THREAD EXIT:"}.
struct ExitWaitLog {
  std::string exitLine;
  std::string timeoutPrefix;
};

// Waits until every flag is marked. Without a pump it waits in 200 ms slices; with one it
// waits in short slices and calls the pump after each, so posted messages keep flowing.
// Every 200 ms without an exit it logs timeoutPrefix followed by the first flag, ": " and
// the second (the first again when there is only one). Logs exitLine when done.
void WaitForExit(const std::vector<const ExitFlag*>& flags, const MessagePump& pump, const ExitWaitLog& log);

}  // namespace tw
