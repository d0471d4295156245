#include "media/PositionTicker.h"

#include <cstdio>
#include <system_error>

#include "app/Messages.h"

namespace tw {

PositionTicker::PositionTicker(MessageSink* sink) : sink_(sink) {}

PositionTicker::~PositionTicker() {
  Stop();
}

bool PositionTicker::Start() {
  if (thread_.joinable()) return false;
  stop_ = false;
  exited_.Reset();
  try {
    thread_ = std::thread(ReflushThreadFunc, this);
  } catch (const std::system_error&) {
    exited_.MarkExited();
    return false;
  }
  return true;
}

void PositionTicker::Stop(const MessagePump& pump) {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(sleepLock_);
    stop_ = true;
  }
  wake_.notify_all();
  WaitForExit({&exited_}, pump,
              {"AudioPlayer Reflush Thread MsgWaitForMultipleObjects Exit",
               "AudioPlayer Reflush Thread THREAD EXIT:"});
  thread_.join();
}

void ReflushThreadFunc(PositionTicker* ticker) {
  while (!ticker->stop_) {
    PostValue(ticker->sink_, WM_PLAY_TICK);
    std::unique_lock<std::mutex> hold(ticker->sleepLock_);
    ticker->wake_.wait_for(hold, PositionTicker::kInterval, [ticker] { return ticker->stop_.load(); });
  }
  ticker->exited_.MarkExited();
  std::printf("ReflushThreadFunc exit...\n");
}

}  // namespace tw
