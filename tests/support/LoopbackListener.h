// Accepts TCP connections on a free loopback port and answers each on a thread of its own with
// the handler, which closes the connection. Destruction stops accepting, makes Stopping() true
// and joins every thread, so a handler may use its owner's members until then: declare the
// listener as the owner's last member.
#pragma once

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace tw::test {

class LoopbackListener {
 public:
  using Handler = std::function<void(int client)>;

  explicit LoopbackListener(Handler handler, int backlog = 16);
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  int Port() const { return port_; }
  // True once the owner is going: handlers end their waits and loops.
  const std::atomic<bool>& Stopping() const { return stop_; }

 private:
  void Accept();

  Handler handler_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::vector<std::thread> clients_;  // the accepting thread's only
  std::thread thread_;
};

}  // namespace tw::test
