#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "media/PacketQueue.h"

namespace tw {
namespace {

PacketPtr PacketWithPts(int64_t pts, int bytes = 16) {
  PacketPtr packet = MakePacket();
  EXPECT_EQ(av_new_packet(packet.get(), bytes), 0);
  packet->pts = pts;
  return packet;
}

TEST(PacketQueueTest, KeepsOrderAndGivesNullWhenEmpty) {
  PacketQueue queue;
  EXPECT_TRUE(queue.Empty());
  EXPECT_EQ(queue.Pop(), nullptr);
  for (int64_t pts : {3, 1, 2}) queue.Push(PacketWithPts(pts));
  queue.Push(nullptr);  // ignored
  EXPECT_EQ(queue.Size(), 3u);
  for (int64_t pts : {3, 1, 2}) {
    PacketPtr packet = queue.Pop();
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->pts, pts);
  }
  EXPECT_TRUE(queue.Empty());
}

TEST(PacketQueueTest, ClearDropsEverythingAndStaysUsable) {
  PacketQueue queue;
  for (int i = 0; i < 100; ++i) queue.Push(PacketWithPts(i, 4096));
  queue.Clear();
  EXPECT_TRUE(queue.Empty());
  EXPECT_EQ(queue.Pop(), nullptr);
  queue.Push(PacketWithPts(7));
  EXPECT_EQ(queue.Pop()->pts, 7);
}

// One pusher and one popper at full speed, as the reading and decoding threads run: every
// packet arrives once, in order.
TEST(PacketQueueTest, PusherAndPopperOnTwoThreadsLoseNothing) {
  constexpr int kCount = 20000;
  PacketQueue queue;
  std::thread pusher([&] {
    for (int i = 0; i < kCount; ++i) queue.Push(PacketWithPts(i, 8));
  });
  std::vector<int64_t> seen;
  seen.reserve(kCount);
  while (static_cast<int>(seen.size()) < kCount) {
    if (PacketPtr packet = queue.Pop()) seen.push_back(packet->pts);
    if (static_cast<int>(seen.size()) % 1000 == 0) queue.Size();  // readers of the size race too
  }
  pusher.join();
  for (int i = 0; i < kCount; ++i) ASSERT_EQ(seen[i], i);
  EXPECT_TRUE(queue.Empty());
}

}  // namespace
}  // namespace tw
