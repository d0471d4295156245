#include "tests/support/QueueSink.h"

namespace tw::test {

void QueueSink::Post(Message message) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    queue_.push_back(std::move(message));
  }
  wake_.notify_all();
}

std::optional<Message> QueueSink::WaitMatch(const std::function<bool(const Message&)>& pred,
                                            std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(lock_);
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
      if (pred(*it)) {
        Message found = std::move(*it);
        queue_.erase(it);
        return found;
      }
    }
    if (wake_.wait_until(hold, until) == std::cv_status::timeout) {
      for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (pred(*it)) {
          Message found = std::move(*it);
          queue_.erase(it);
          return found;
        }
      }
      return std::nullopt;
    }
  }
}

std::optional<Message> QueueSink::WaitFor(unsigned id, std::chrono::milliseconds timeout) {
  return WaitMatch([id](const Message& m) { return m.id == id; }, timeout);
}

std::vector<Message> QueueSink::Drain() {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<Message> all;
  for (auto& m : queue_) all.push_back(std::move(m));
  queue_.clear();
  return all;
}

std::vector<Message> QueueSink::DrainAfterQuiet(std::chrono::milliseconds quiet,
                                                std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(lock_);
  const auto until = std::chrono::steady_clock::now() + timeout;
  size_t seen = queue_.size();
  while (std::chrono::steady_clock::now() < until) {
    wake_.wait_for(hold, quiet);
    if (queue_.size() == seen) break;
    seen = queue_.size();
  }
  std::vector<Message> all;
  for (auto& m : queue_) all.push_back(std::move(m));
  queue_.clear();
  return all;
}

size_t QueueSink::Count(unsigned id) const {
  std::lock_guard<std::mutex> hold(lock_);
  size_t n = 0;
  for (const auto& m : queue_) n += m.id == id;
  return n;
}

}  // namespace tw::test
