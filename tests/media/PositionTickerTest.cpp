#include <gtest/gtest.h>

#include "app/Messages.h"
#include "media/PositionTicker.h"
#include "tests/support/Process.h"
#include "tests/support/QueueSink.h"

namespace tw {
namespace {

using namespace std::chrono_literals;

TEST(PositionTickerTest, TicksWhileRunningAndNeverAfterStop) {
  test::QueueSink sink;
  PositionTicker ticker(&sink);
  EXPECT_FALSE(ticker.Running());
  ticker.Stop();  // not running: nothing to wait for
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    ASSERT_TRUE(ticker.Start());
    EXPECT_FALSE(ticker.Start());  // one thread at a time
    for (int tick = 0; tick < 5; ++tick) {
      auto message = sink.WaitFor(WM_PLAY_TICK, 5s);
      ASSERT_TRUE(message.has_value()) << "tick " << tick;
      EXPECT_EQ(message->param, 0);
      EXPECT_EQ(message->record, nullptr);
    }
    int pumped = 0;
    ticker.Stop([&] { ++pumped; });
    EXPECT_TRUE(ticker.Exited());
    EXPECT_FALSE(ticker.Running());
    sink.Drain();  // ticks posted before Stop returned
    EXPECT_FALSE(sink.WaitFor(WM_PLAY_TICK, 300ms).has_value()) << "a tick after Stop";
  }
}

// A ticker destroyed while running stops its thread itself; stopped and restarted tickers
// keep no thread behind.
TEST(PositionTickerTest, DestroyedWhileRunningStopsItself) {
  test::QueueSink sink;
  const int threadsBefore = test::ThreadCount();
  for (int i = 0; i < 20; ++i) {
    PositionTicker ticker(&sink);
    ASSERT_TRUE(ticker.Start());
    ASSERT_TRUE(sink.WaitFor(WM_PLAY_TICK, 2s).has_value());
    EXPECT_EQ(test::ThreadCount(), threadsBefore + 1);
    if (i % 2 == 0) ticker.Stop();
  }
  EXPECT_EQ(test::ThreadCount(), threadsBefore);
}

}  // namespace
}  // namespace tw
