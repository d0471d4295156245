// A small synchronous face over libpulse: one connection per user, each with its own
// threaded main loop. Callers block until the sound server answers, the connection fails, or
// kPulseTimeoutMs pass (a stuck server: the connection then counts as broken and asks
// nothing more); nothing here throws. A PulseConnection and the streams made on it belong
// to one thread at a time; libpulse's own loop thread runs inside and is joined by the
// destructor.
#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tw {

// The longest wait for any one answer of the sound server (a local server answers in
// milliseconds).
inline constexpr int kPulseTimeoutMs = 2000;

struct PulseLoopDeleter {
  void operator()(pa_threaded_mainloop* loop) const {
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
  }
};
struct PulseContextDeleter {
  void operator()(pa_context* ctx) const {
    pa_context_disconnect(ctx);
    pa_context_unref(ctx);
  }
};
using PulseLoopPtr = std::unique_ptr<pa_threaded_mainloop, PulseLoopDeleter>;
using PulseContextPtr = std::unique_ptr<pa_context, PulseContextDeleter>;

// What the server tells about one source or sink.
struct PulseDeviceFacts {
  uint32_t index = PA_INVALID_INDEX;
  std::string name;
  std::string description;
  std::string monitorSourceName;  // sinks: the source that records what they play
  bool isMonitor = false;         // sources: the monitor of a sink
  bool mute = false;
  pa_cvolume volume{};
  pa_sample_spec sampleSpec{};
  pa_channel_map channelMap{};  // where each of its channels stands
};

class PulseConnection {
 public:
  PulseConnection() = default;
  ~PulseConnection();
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  // Connects to the server that the environment names (PULSE_SERVER, XDG_RUNTIME_DIR),
  // never spawning one. False when no server answers in time, or once *cancel is set
  // (checked every few tens of milliseconds; it stays in force for the later waits).
  bool Connect(const char* clientName, const std::atomic<bool>* cancel = nullptr);
  bool Connected() const { return context_ != nullptr && !broken_; }
  // How long any one answer may take from now on (kPulseTimeoutMs unless set).
  void SetTimeoutMs(int ms) { timeoutMs_ = ms; }

  // Default sink and source names; false when the server cannot be asked.
  bool DefaultNames(std::string& sink, std::string& source);
  bool ListSources(std::vector<PulseDeviceFacts>& out);
  bool ListSinks(std::vector<PulseDeviceFacts>& out);
  bool SetSourceVolume(uint32_t index, const pa_cvolume& volume);
  bool SetSourceMute(uint32_t index, bool mute);
  bool SetSinkVolume(uint32_t index, const pa_cvolume& volume);
  // Calls changed, on libpulse's loop thread, whenever a sink, a source or the server's
  // defaults change, until the connection ends. False when the server refused.
  bool Subscribe(std::function<void()> changed);
  // The connection still stands (the server has not gone, no answer ran out of time).
  bool Alive();

  pa_threaded_mainloop* Loop() const { return loop_.get(); }
  pa_context* Context() const { return context_.get(); }

  // Waits, with the loop locked by the caller, until op has finished; unrefs op. False when
  // the connection broke, the time ran out or the wait was cancelled first.
  bool Await(pa_operation* op);
  // Waits, with the loop locked by the caller, until done() holds (true), or the connection
  // breaks, kPulseTimeoutMs pass or the wait is cancelled (false). done() runs locked.
  bool WaitLocked(const std::function<bool()>& done);

 private:
  bool WaitOn(pa_threaded_mainloop* loop, pa_context* context, const std::function<bool()>& done);

  static void Changed(pa_context*, pa_subscription_event_type_t, uint32_t, void* self);

  PulseLoopPtr loop_;
  PulseContextPtr context_;
  std::function<void()> changed_;
  const std::atomic<bool>* cancel_ = nullptr;
  int timeoutMs_ = kPulseTimeoutMs;
  bool broken_ = false;  // a wait ran out of time: the server is stuck
};

// Holds the loop lock of a connection for one scope.
class PulseLock {
 public:
  explicit PulseLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
  ~PulseLock() { pa_threaded_mainloop_unlock(loop_); }
  PulseLock(const PulseLock&) = delete;
  PulseLock& operator=(const PulseLock&) = delete;

 private:
  pa_threaded_mainloop* loop_;
};

// A recording stream of one source, read by polling like a capture device: ask what is
// waiting, take one piece, or throw the backlog away. Owned and read by one thread.
class PulseRecordStream {
 public:
  PulseRecordStream() = default;
  ~PulseRecordStream();
  PulseRecordStream(const PulseRecordStream&) = delete;
  PulseRecordStream& operator=(const PulseRecordStream&) = delete;

  // Connects and opens `source` in the given format, with pieces of about fragmentMs (the
  // source's latency is fitted to them). The channels stand where map says (the server remixes
  // the source's own to them); without one, in the server's default order for their count,
  // with places it has no name for left unassigned. 0, or -1 when the server or the source is
  // not there, the server does not answer in time, or *cancel was set meanwhile.
  int Open(const std::string& source, const pa_sample_spec& spec, int fragmentMs, const char* streamName,
           const std::atomic<bool>* cancel = nullptr, const pa_channel_map* map = nullptr);
  // Bytes waiting to be read; -1 when the stream has died (server gone, device removed).
  long Readable();
  // Appends the next waiting piece to out (holes become silence). Bytes appended, 0 when
  // nothing waits, -1 when the stream has died.
  long ReadPiece(std::vector<uint8_t>& out);
  // Drops everything recorded and not yet read.
  int Flush();
  // Waits up to timeoutMs for new data to arrive (returns at once when some came since
  // the last wait). True when data came.
  bool WaitData(int timeoutMs);
  const pa_sample_spec& Spec() const { return spec_; }
  // True once the connection to the server is lost (the server ended, or stopped answering),
  // as opposed to the stream alone ending with its device.
  bool ServerLost();

 private:
  bool Alive() const;
  static void DataArrived(pa_stream* stream, size_t bytes, void* self);
  std::mutex dataLock_;
  std::condition_variable dataSignal_;
  bool dataReady_ = false;  // guarded by dataLock_
  PulseConnection connection_;
  pa_stream* stream_ = nullptr;
  pa_sample_spec spec_{};
};

// The sample format of libpulse that matches an FFmpeg packed format; PA_SAMPLE_INVALID
// when there is none. And the other way round (AV_SAMPLE_FMT_NONE when FFmpeg has no
// packed equivalent, for example 24-bit packed samples).
pa_sample_format_t PulseFormatFromAv(int avSampleFormat);
int AvFormatFromPulse(pa_sample_format_t format);

}  // namespace tw
