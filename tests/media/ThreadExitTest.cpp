#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "media/ThreadExit.h"

namespace tw {
namespace {

using namespace std::chrono_literals;

struct WaitCase {
  const char* name;
  std::chrono::milliseconds firstWork;   // how long the first worker runs
  std::chrono::milliseconds secondWork;  // negative: there is only one worker
  bool withPump;
  bool expectPumped;  // the pump must have run at least once
};

// The waiter returns once every worker has marked itself, whether that happened long before
// the wait (a thread already gone) or during it, and with a pump it keeps serving messages.
TEST(ThreadExitTest, WaitsForEveryWorkerAndServesThePump) {
  const WaitCase cases[] = {
      {"already gone, no pump", 0ms, -1ms, false, false},
      {"already gone, pump", 0ms, -1ms, true, false},
      {"one slow worker, no pump", 450ms, -1ms, false, false},
      {"one slow worker, pump", 450ms, -1ms, true, true},
      {"two workers ending apart", 50ms, 500ms, true, true},
      {"two workers, both gone", 0ms, 0ms, false, false},
  };
  for (const WaitCase& c : cases) {
    SCOPED_TRACE(c.name);
    ExitFlag first;
    ExitFlag second;
    std::atomic<int> pumped{0};
    // A worker the pump must serve ends only once the pump has run: on a loaded machine the
    // waiter may not get to wait before a worker's time is up.
    auto work = [&pumped, &c](ExitFlag* flag, std::chrono::milliseconds ms) {
      std::this_thread::sleep_for(ms);
      for (int i = 0; c.expectPumped && pumped.load() == 0 && i < 20000; ++i)
        std::this_thread::sleep_for(1ms);
      flag->MarkExited();
    };
    std::thread a(work, &first, c.firstWork);
    std::thread b;
    std::vector<const ExitFlag*> flags{&first};
    if (c.secondWork >= 0ms) {
      b = std::thread(work, &second, c.secondWork);
      flags.push_back(&second);
    }
    if (c.firstWork == 0ms) {
      a.join();
      if (b.joinable()) b.join();
    }
    MessagePump pump;
    if (c.withPump) pump = [&] { ++pumped; };
    WaitForExit(flags, pump, {"test exit", "test THREAD EXIT:"});
    EXPECT_TRUE(first.Exited());
    if (c.secondWork >= 0ms) {
      EXPECT_TRUE(second.Exited());
    }
    if (c.expectPumped) {
      EXPECT_GT(pumped.load(), 0);
    }
    if (!c.withPump) {
      EXPECT_EQ(pumped.load(), 0);
    }
    if (a.joinable()) a.join();
    if (b.joinable()) b.join();
  }
}

TEST(ThreadExitTest, ResetMakesTheFlagWaitAgain) {
  ExitFlag flag;
  flag.MarkExited();
  EXPECT_TRUE(flag.WaitFor(0ms));
  flag.Reset();
  EXPECT_FALSE(flag.Exited());
  EXPECT_FALSE(flag.WaitFor(10ms));
}

}  // namespace
}  // namespace tw
