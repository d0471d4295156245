// The position ticker of the cut page: while it runs it posts WM_PLAY_TICK (no record, no
// parameter) to its sink every 100 ms; the window answers by reading the player's position
// and moving the play cursor.
//
// Threads: the owner (the window thread) calls Start and Stop; the ticker thread runs
// ReflushThreadFunc and only posts. Its stop flag is set by Stop, which is also its waiter.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/MessageSink.h"
#include "media/ThreadExit.h"

namespace tw {

class PositionTicker {
 public:
  static constexpr std::chrono::milliseconds kInterval{100};

  // The sink must outlive the ticker's runs.
  explicit PositionTicker(MessageSink* sink);
  PositionTicker(const PositionTicker&) = delete;
  PositionTicker& operator=(const PositionTicker&) = delete;
  ~PositionTicker();

  // Clears both flags and starts the thread. False when it runs already or cannot start.
  bool Start();
  // Sets the stop flag and waits for the thread, calling pump (when given) meanwhile.
  // Does nothing when the ticker is not running.
  void Stop(const MessagePump& pump = {});
  bool Running() const { return thread_.joinable(); }
  bool Exited() const { return exited_.Exited(); }

 private:
  friend void ReflushThreadFunc(PositionTicker* ticker);

  MessageSink* sink_;
  std::atomic<bool> stop_{false};
  ExitFlag exited_;
  std::mutex sleepLock_;
  std::condition_variable wake_;
  std::thread thread_;
};

// The ticker thread: posts a tick, sleeps 100 ms (cut short by Stop), until stopped; then
// marks itself exited.
void ReflushThreadFunc(PositionTicker* ticker);

}  // namespace tw
