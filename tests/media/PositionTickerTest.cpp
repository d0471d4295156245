#include <gtest/gtest.h>

#include <thread>

#include "app/Messages.h"
#include "media/PositionTicker.h"
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
    auto first = sink.WaitFor(WM_PLAY_TICK, 2s);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->param, 0);
    EXPECT_EQ(first->record, nullptr);
    std::this_thread::sleep_for(1s);
    int pumped = 0;
    ticker.Stop([&] { ++pumped; });
    EXPECT_TRUE(ticker.Exited());
    EXPECT_FALSE(ticker.Running());
    // About ten a second; a wide band so a loaded machine cannot fail it.
    const size_t ticks = sink.Drain().size();
    EXPECT_GE(ticks, 3u);
    EXPECT_LE(ticks, 15u);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sink.Count(WM_PLAY_TICK), 0u) << "a tick after Stop";
  }
}

// A ticker destroyed while running stops its thread itself; stopped and restarted tickers
// keep no thread behind.
TEST(PositionTickerTest, DestroyedWhileRunningStopsItself) {
  test::QueueSink sink;
  for (int i = 0; i < 20; ++i) {
    PositionTicker ticker(&sink);
    ASSERT_TRUE(ticker.Start());
    ASSERT_TRUE(sink.WaitFor(WM_PLAY_TICK, 2s).has_value());
    if (i % 2 == 0) ticker.Stop();
  }
}

}  // namespace
}  // namespace tw
