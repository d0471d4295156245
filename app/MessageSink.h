// How engines report to their owner without knowing it: a message is a number from
// Messages.h, an owned record and an integer. The sink owns the record from the moment
// Post is called; Post may be called from any thread and never blocks for long.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

namespace tw {

// Base of every record that travels with a message.
struct MessageRecord {
  virtual ~MessageRecord() = default;
};

// The seconds of WM_CUT_START, WM_CUT_END and WM_WAVE_CLICK: a marker's or a click's time.
struct SecondsRecord : MessageRecord {
  explicit SecondsRecord(double value) : seconds(value) {}
  double seconds = 0;
};

struct Message {
  unsigned id = 0;
  std::unique_ptr<MessageRecord> record;
  std::int64_t param = 0;
  // The run that posted it (tasks/JobRun.h); 0 for a message of no run.
  int runId = 0;

  Message() = default;
  Message(unsigned messageId, std::unique_ptr<MessageRecord> rec = nullptr, std::int64_t value = 0,
          int run = 0)
      : id(messageId), record(std::move(rec)), param(value), runId(run) {}

  // The record as its concrete type, or nullptr when it is absent or of another type.
  template <class T>
  T* As() const {
    return dynamic_cast<T*>(record.get());
  }
};

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Thread-safe. Takes ownership of the message and its record.
  virtual void Post(Message message) = 0;
};

// Convenience for posting a record of a concrete type.
template <class T, class... Args>
void PostRecord(MessageSink* sink, unsigned id, Args&&... args) {
  if (sink) sink->Post(Message(id, std::make_unique<T>(std::forward<Args>(args)...)));
}

inline void PostValue(MessageSink* sink, unsigned id, std::int64_t value = 0) {
  if (sink) sink->Post(Message(id, nullptr, value));
}

}  // namespace tw
