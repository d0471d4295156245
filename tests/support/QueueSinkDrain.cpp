// The one QueueSink wait that reports to the calling test; apart from QueueSink.cpp, which the
// fuzz targets link without the test framework.
#include <gtest/gtest.h>

#include "tests/support/QueueSink.h"

namespace tw::test {

std::vector<Message> QueueSink::DrainThrough(unsigned id, std::chrono::milliseconds timeout) {
  std::optional<Message> last = WaitFor(id, timeout);
  EXPECT_TRUE(last.has_value()) << "message " << id << " never came";
  std::vector<Message> messages = Drain();
  if (last) messages.push_back(std::move(*last));
  return messages;
}

}  // namespace tw::test
