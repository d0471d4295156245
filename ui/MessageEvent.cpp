#include "ui/MessageEvent.h"

#include <QCoreApplication>
#include <vector>
#include <memory>

namespace tw {

QEvent::Type MessageEvent::EventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

WindowPort* WindowPort::Create() {
  // Kept to the end of the process on purpose: worker threads are not joined and may still
  // hold the port.
  static std::mutex lock;
  static std::vector<std::unique_ptr<WindowPort>> ports;
  std::lock_guard<std::mutex> guard(lock);
  ports.emplace_back(new WindowPort());
  return ports.back().get();
}

void WindowPort::Attach(QObject* receiver) {
  std::lock_guard<std::mutex> guard(lock_);
  receiver_ = receiver;
}

void WindowPort::Detach() {
  std::lock_guard<std::mutex> guard(lock_);
  receiver_ = nullptr;
}

void WindowPort::Post(Message message) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!receiver_) return;
  QCoreApplication::postEvent(receiver_, new MessageEvent(std::move(message)));
}

}  // namespace tw
