// A locked first-in first-out queue of compressed packets, shared by a reading thread that
// pushes and a decoding thread that pops. It never blocks: back-pressure is the owner's job
// (its own lock and condition variable around Size()).
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>

#include "app/FFmpegPtr.h"

namespace tw {

// Any thread may call any member; each call is atomic with respect to the others.
class PacketQueue {
 public:
  PacketQueue() = default;
  PacketQueue(const PacketQueue&) = delete;
  PacketQueue& operator=(const PacketQueue&) = delete;
  ~PacketQueue() = default;

  // Takes ownership; a null packet is ignored.
  void Push(PacketPtr packet);
  // The oldest packet, or null when the queue is empty.
  PacketPtr Pop();
  std::size_t Size() const;
  bool Empty() const;
  // Unreferences and frees every queued packet.
  void Clear();

 private:
  mutable std::mutex lock_;
  std::deque<PacketPtr> packets_;
};

}  // namespace tw
