#include "media/PacketQueue.h"

#include <utility>

namespace tw {

void PacketQueue::Push(PacketPtr packet) {
  if (!packet) return;
  std::lock_guard<std::mutex> hold(lock_);
  packets_.push_back(std::move(packet));
}

PacketPtr PacketQueue::Pop() {
  std::lock_guard<std::mutex> hold(lock_);
  if (packets_.empty()) return nullptr;
  PacketPtr front = std::move(packets_.front());
  packets_.pop_front();
  return front;
}

std::size_t PacketQueue::Size() const {
  std::lock_guard<std::mutex> hold(lock_);
  return packets_.size();
}

bool PacketQueue::Empty() const {
  std::lock_guard<std::mutex> hold(lock_);
  return packets_.empty();
}

void PacketQueue::Clear() {
  std::deque<PacketPtr> dropped;
  {
    std::lock_guard<std::mutex> hold(lock_);
    dropped.swap(packets_);
  }
  // Freed outside the lock so a pusher or popper never waits on av_packet_free.
}

}  // namespace tw
