// The window side of MessageSink: engines on any thread post a Message; it arrives on the
// window thread as one custom QEvent type that the receiver's event() unpacks.
#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <mutex>

#include "app/MessageSink.h"

namespace tw {

class MessageEvent : public QEvent {
 public:
  explicit MessageEvent(Message message) : QEvent(EventType()), message_(std::move(message)) {}
  static QEvent::Type EventType();
  Message& message() { return message_; }

 private:
  Message message_;
};

// A sink that outlives its window: engines that are not joined may post after the window
// is gone, and those messages are dropped. Post is thread-safe; Attach/Detach run on the
// window thread.
class WindowPort : public MessageSink {
 public:
  // A port that lives until the process ends.
  static WindowPort* Create();

  void Attach(QObject* receiver);
  void Detach();
  void Post(Message message) override;

 private:
  WindowPort() = default;
  std::mutex lock_;
  QObject* receiver_ = nullptr;  // cleared by Detach before the receiver is destroyed
};

}  // namespace tw
