// A MessageSink for tests: keeps every posted message in order and lets the test wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "app/MessageSink.h"

namespace tw::test {

class QueueSink : public MessageSink {
 public:
  void Post(Message message) override;

  // Removes and returns the first message with this id, waiting up to timeout.
  std::optional<Message> WaitFor(unsigned id, std::chrono::milliseconds timeout = std::chrono::seconds(60));
  // Removes and returns the first message for which pred holds, waiting up to timeout.
  std::optional<Message> WaitMatch(const std::function<bool(const Message&)>& pred,
                                   std::chrono::milliseconds timeout);
  // Removes and returns every message posted so far.
  std::vector<Message> Drain();
  // Waits until no message arrived for quiet (or until timeout), then drains.
  std::vector<Message> DrainAfterQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout);
  size_t Count(unsigned id) const;
  // What a job posts: every message up to the first with this id, which comes last; fails the
  // calling test when it does not come within timeout (and gives what came).
  std::vector<Message> DrainThrough(unsigned id, std::chrono::milliseconds timeout);

 private:
  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::deque<Message> queue_;
};

}  // namespace tw::test
