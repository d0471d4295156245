#include "media/PulseClient.h"

#include <pulse/rtclock.h>

#include <chrono>
#include <cstring>

extern "C" {
#include <libavutil/samplefmt.h>
}

namespace tw {
namespace {

void SignalLoop(pa_threaded_mainloop* loop) { pa_threaded_mainloop_signal(loop, 0); }

// How often a wait wakes to look at its deadline and its cancel flag.
constexpr pa_usec_t kWakeUs = 20 * PA_USEC_PER_MSEC;

// A timer on the loop that wakes the waiting thread every kWakeUs while it lives. Made and
// freed with the loop locked.
class WakeTimer {
 public:
  WakeTimer(pa_threaded_mainloop* loop, pa_context* context) : loop_(loop), context_(context) {
    event_ = pa_context_rttime_new(context, pa_rtclock_now() + kWakeUs, Fired, this);
  }
  ~WakeTimer() {
    if (event_) pa_threaded_mainloop_get_api(loop_)->time_free(event_);
  }
  WakeTimer(const WakeTimer&) = delete;
  WakeTimer& operator=(const WakeTimer&) = delete;
  bool Ok() const { return event_ != nullptr; }

 private:
  static void Fired(pa_mainloop_api*, pa_time_event* event, const struct timeval*, void* self) {
    auto* timer = static_cast<WakeTimer*>(self);
    pa_context_rttime_restart(timer->context_, event, pa_rtclock_now() + kWakeUs);
    SignalLoop(timer->loop_);
  }
  pa_threaded_mainloop* loop_;
  pa_context* context_;
  pa_time_event* event_ = nullptr;
};

void ContextStateChanged(pa_context*, void* userdata) {
  SignalLoop(static_cast<pa_threaded_mainloop*>(userdata));
}

void StreamStateChanged(pa_stream*, void* userdata) { SignalLoop(static_cast<pa_threaded_mainloop*>(userdata)); }

struct ListRequest {
  pa_threaded_mainloop* loop;
  std::vector<PulseDeviceFacts>* out;
};

void SourceListed(pa_context*, const pa_source_info* info, int eol, void* userdata) {
  auto* request = static_cast<ListRequest*>(userdata);
  if (eol == 0 && info) {
    PulseDeviceFacts facts;
    facts.index = info->index;
    facts.name = info->name ? info->name : "";
    facts.description = info->description ? info->description : "";
    facts.isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
    facts.mute = info->mute != 0;
    facts.volume = info->volume;
    facts.sampleSpec = info->sample_spec;
    facts.channelMap = info->channel_map;
    request->out->push_back(std::move(facts));
  }
  SignalLoop(request->loop);
}

void SinkListed(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
  auto* request = static_cast<ListRequest*>(userdata);
  if (eol == 0 && info) {
    PulseDeviceFacts facts;
    facts.index = info->index;
    facts.name = info->name ? info->name : "";
    facts.description = info->description ? info->description : "";
    facts.monitorSourceName = info->monitor_source_name ? info->monitor_source_name : "";
    facts.mute = info->mute != 0;
    facts.volume = info->volume;
    facts.sampleSpec = info->sample_spec;
    facts.channelMap = info->channel_map;
    request->out->push_back(std::move(facts));
  }
  SignalLoop(request->loop);
}

struct ServerRequest {
  pa_threaded_mainloop* loop;
  std::string sink;
  std::string source;
};

void ServerAnswered(pa_context*, const pa_server_info* info, void* userdata) {
  auto* request = static_cast<ServerRequest*>(userdata);
  if (info) {
    request->sink = info->default_sink_name ? info->default_sink_name : "";
    request->source = info->default_source_name ? info->default_source_name : "";
  }
  SignalLoop(request->loop);
}

struct SuccessRequest {
  pa_threaded_mainloop* loop;
  bool ok = false;
};

void Succeeded(pa_context*, int success, void* userdata) {
  auto* request = static_cast<SuccessRequest*>(userdata);
  request->ok = success != 0;
  SignalLoop(request->loop);
}


}  // namespace

PulseConnection::~PulseConnection() {
  // The loop thread must stop before the context goes: the deleters run in reverse
  // declaration order, so stop it here first.
  if (loop_) pa_threaded_mainloop_stop(loop_.get());
  if (context_) {
    pa_context_disconnect(context_.get());
    pa_context_unref(context_.release());
  }
}

bool PulseConnection::Connect(const char* clientName, const std::atomic<bool>* cancel) {
  cancel_ = cancel;
  broken_ = false;
  PulseLoopPtr loop(pa_threaded_mainloop_new());
  if (!loop) return false;
  pa_context* raw = pa_context_new(pa_threaded_mainloop_get_api(loop.get()), clientName);
  if (!raw) return false;
  PulseContextPtr context(raw);
  pa_context_set_state_callback(raw, ContextStateChanged, loop.get());
  if (pa_context_connect(raw, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
  if (pa_threaded_mainloop_start(loop.get()) < 0) return false;
  bool ready = false;
  {
    PulseLock lock(loop.get());
    ready = WaitOn(loop.get(), raw, [raw] {
      const pa_context_state_t state = pa_context_get_state(raw);
      return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    ready = ready && pa_context_get_state(raw) == PA_CONTEXT_READY;
  }
  if (!ready) {
    pa_threaded_mainloop_stop(loop.get());
    return false;
  }
  loop_ = std::move(loop);
  context_ = std::move(context);
  return true;
}

bool PulseConnection::WaitOn(pa_threaded_mainloop* loop, pa_context* context,
                             const std::function<bool()>& done) {
  if (broken_) return false;
  const pa_usec_t deadline = pa_rtclock_now() + static_cast<pa_usec_t>(timeoutMs_) * PA_USEC_PER_MSEC;
  WakeTimer timer(loop, context);
  if (!timer.Ok()) return false;
  while (!done()) {
    if (cancel_ && cancel_->load()) return false;
    if (pa_rtclock_now() >= deadline) {
      broken_ = true;
      return false;
    }
    pa_threaded_mainloop_wait(loop);
  }
  return true;
}

bool PulseConnection::WaitLocked(const std::function<bool()>& done) {
  if (!Connected()) return false;
  pa_context* context = context_.get();
  return WaitOn(loop_.get(), context,
                [&] { return done() || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)); }) &&
         done();
}

bool PulseConnection::Await(pa_operation* op) {
  if (!op) return false;
  const bool finished = WaitLocked([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
  if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_operation_cancel(op);
  const bool ok = finished && pa_operation_get_state(op) == PA_OPERATION_DONE;
  pa_operation_unref(op);
  return ok;
}

bool PulseConnection::DefaultNames(std::string& sink, std::string& source) {
  if (!Connected()) return false;
  ServerRequest request{loop_.get(), {}, {}};
  PulseLock lock(loop_.get());
  if (!Await(pa_context_get_server_info(context_.get(), ServerAnswered, &request))) return false;
  sink = request.sink;
  source = request.source;
  return true;
}

bool PulseConnection::ListSources(std::vector<PulseDeviceFacts>& out) {
  out.clear();
  if (!Connected()) return false;
  ListRequest request{loop_.get(), &out};
  PulseLock lock(loop_.get());
  return Await(pa_context_get_source_info_list(context_.get(), SourceListed, &request));
}

bool PulseConnection::ListSinks(std::vector<PulseDeviceFacts>& out) {
  out.clear();
  if (!Connected()) return false;
  ListRequest request{loop_.get(), &out};
  PulseLock lock(loop_.get());
  return Await(pa_context_get_sink_info_list(context_.get(), SinkListed, &request));
}

bool PulseConnection::SetSourceVolume(uint32_t index, const pa_cvolume& volume) {
  if (!Connected()) return false;
  SuccessRequest request{loop_.get()};
  PulseLock lock(loop_.get());
  return Await(pa_context_set_source_volume_by_index(context_.get(), index, &volume, Succeeded, &request)) &&
         request.ok;
}

bool PulseConnection::SetSourceMute(uint32_t index, bool mute) {
  if (!Connected()) return false;
  SuccessRequest request{loop_.get()};
  PulseLock lock(loop_.get());
  return Await(pa_context_set_source_mute_by_index(context_.get(), index, mute ? 1 : 0, Succeeded, &request)) &&
         request.ok;
}

bool PulseConnection::SetSinkVolume(uint32_t index, const pa_cvolume& volume) {
  if (!Connected()) return false;
  SuccessRequest request{loop_.get()};
  PulseLock lock(loop_.get());
  return Await(pa_context_set_sink_volume_by_index(context_.get(), index, &volume, Succeeded, &request)) &&
         request.ok;
}

void PulseConnection::Changed(pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
  auto* connection = static_cast<PulseConnection*>(self);
  if (connection->changed_) connection->changed_();
}

bool PulseConnection::Subscribe(std::function<void()> changed) {
  if (!Connected()) return false;
  PulseLock lock(loop_.get());
  changed_ = std::move(changed);
  pa_context_set_subscribe_callback(context_.get(), &PulseConnection::Changed, this);
  SuccessRequest request{loop_.get()};
  const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
                                                        PA_SUBSCRIPTION_MASK_SERVER);
  return Await(pa_context_subscribe(context_.get(), mask, Succeeded, &request)) && request.ok;
}

bool PulseConnection::Alive() {
  if (!Connected()) return false;
  PulseLock lock(loop_.get());
  return pa_context_get_state(context_.get()) == PA_CONTEXT_READY;
}

PulseRecordStream::~PulseRecordStream() {
  if (stream_) {
    PulseLock lock(connection_.Loop());
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }
}

int PulseRecordStream::Open(const std::string& source, const pa_sample_spec& spec, int fragmentMs,
                            const char* streamName, const std::atomic<bool>* cancel, const pa_channel_map* map) {
  if (stream_ || !pa_sample_spec_valid(&spec)) return -1;
  // The server's own default has no order for 7 or 8 channels: the stream could not be made.
  pa_channel_map places;
  if (map)
    places = *map;
  else
    pa_channel_map_init_extend(&places, spec.channels, PA_CHANNEL_MAP_DEFAULT);
  if (!pa_channel_map_compatible(&places, &spec)) return -1;
  if (!connection_.Connect("Tunewell", cancel)) return -1;
  spec_ = spec;
  pa_threaded_mainloop* loop = connection_.Loop();
  PulseLock lock(loop);
  stream_ = pa_stream_new(connection_.Context(), streamName, &spec, &places);
  if (!stream_) return -1;
  pa_stream_set_state_callback(stream_, StreamStateChanged, loop);
  pa_stream_set_read_callback(stream_, DataArrived, this);
  pa_buffer_attr attr;
  std::memset(&attr, 0xff, sizeof attr);  // (uint32_t)-1: the server's default
  attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(static_cast<pa_usec_t>(fragmentMs) * 1000, &spec));
  // Small pieces with the source's latency fitted to them: a sink whose players buffer
  // seconds then renders in small blocks too, so that its sound reaches the reader at once.
  // The stream stays on the device it was opened on: when that device goes away the stream
  // dies and the reader learns of it, instead of going on from whatever the server picks.
  if (pa_stream_connect_record(stream_, source.empty() ? nullptr : source.c_str(), &attr,
                               static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE)) < 0)
    return -1;
  pa_stream* stream = stream_;
  const bool settled = connection_.WaitLocked([stream] {
    const pa_stream_state_t state = pa_stream_get_state(stream);
    return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
  });
  return settled && pa_stream_get_state(stream_) == PA_STREAM_READY ? 0 : -1;
}

// Runs on libpulse's loop thread.
void PulseRecordStream::DataArrived(pa_stream*, size_t, void* self) {
  auto* stream = static_cast<PulseRecordStream*>(self);
  {
    std::lock_guard<std::mutex> lock(stream->dataLock_);
    stream->dataReady_ = true;
  }
  stream->dataSignal_.notify_one();
}

bool PulseRecordStream::WaitData(int timeoutMs) {
  std::unique_lock<std::mutex> lock(dataLock_);
  const bool came =
      dataSignal_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return dataReady_; });
  dataReady_ = false;
  return came;
}

bool PulseRecordStream::Alive() const {
  return stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY &&
         pa_context_get_state(connection_.Context()) == PA_CONTEXT_READY;
}

bool PulseRecordStream::ServerLost() {
  if (!connection_.Loop()) return true;
  PulseLock lock(connection_.Loop());
  return !connection_.Connected() || pa_context_get_state(connection_.Context()) != PA_CONTEXT_READY;
}

long PulseRecordStream::Readable() {
  if (!stream_) return -1;
  PulseLock lock(connection_.Loop());
  if (!Alive()) return -1;
  const size_t n = pa_stream_readable_size(stream_);
  return n == static_cast<size_t>(-1) ? -1 : static_cast<long>(n);
}

long PulseRecordStream::ReadPiece(std::vector<uint8_t>& out) {
  if (!stream_) return -1;
  PulseLock lock(connection_.Loop());
  if (!Alive()) return -1;
  if (pa_stream_readable_size(stream_) == 0) return 0;
  const void* data = nullptr;
  size_t bytes = 0;
  if (pa_stream_peek(stream_, &data, &bytes) < 0) return -1;
  if (bytes == 0) return 0;  // nothing, or a hole of unknown size: no drop needed
  const size_t at = out.size();
  out.resize(at + bytes);
  if (data)
    std::memcpy(out.data() + at, data, bytes);
  else
    std::memset(out.data() + at, spec_.format == PA_SAMPLE_U8 ? 0x80 : 0, bytes);
  pa_stream_drop(stream_);
  return static_cast<long>(bytes);
}

// Reads and drops what has arrived. (The server's own flush resets the read index of a
// record stream ahead of the data still in flight, which then stalls the stream.)
int PulseRecordStream::Flush() {
  if (!stream_) return -1;
  PulseLock lock(connection_.Loop());
  if (!Alive()) return -1;
  while (pa_stream_readable_size(stream_) > 0) {
    const void* data = nullptr;
    size_t bytes = 0;
    if (pa_stream_peek(stream_, &data, &bytes) < 0) return -1;
    if (bytes == 0) break;
    pa_stream_drop(stream_);
  }
  return 0;
}

pa_sample_format_t PulseFormatFromAv(int avSampleFormat) {
  switch (avSampleFormat) {
    case AV_SAMPLE_FMT_U8:
      return PA_SAMPLE_U8;
    case AV_SAMPLE_FMT_S16:
      return PA_SAMPLE_S16NE;
    case AV_SAMPLE_FMT_S32:
      return PA_SAMPLE_S32NE;
    case AV_SAMPLE_FMT_FLT:
      return PA_SAMPLE_FLOAT32NE;
    default:
      return PA_SAMPLE_INVALID;
  }
}

int AvFormatFromPulse(pa_sample_format_t format) {
  switch (format) {
    case PA_SAMPLE_U8:
      return AV_SAMPLE_FMT_U8;
    case PA_SAMPLE_S16NE:
      return AV_SAMPLE_FMT_S16;
    case PA_SAMPLE_S32NE:
      return AV_SAMPLE_FMT_S32;
    case PA_SAMPLE_FLOAT32NE:
      return AV_SAMPLE_FMT_FLT;
    default:
      return AV_SAMPLE_FMT_NONE;
  }
}

}  // namespace tw
