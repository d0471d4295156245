#include "media/CaptureSources.h"

#include <glog/logging.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>

#include "media/AudioInput.h"
#include "media/AudioRecorder.h"
#include "media/PulseClient.h"
#include "media/VoiceProcessor.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

namespace tw {
namespace {

// Size of the pieces the server delivers. Small, so that a sink fed by players with big
// buffers renders in small blocks while it is recorded, and a piece's place in time is known
// to within a few milliseconds.
constexpr int kFragmentMs = 20;
// Input frames converted at once from a bigger piece (a backlog delivered in one go).
constexpr int kConvertFrames = 4096;
// How long the device may give nothing before its sound counts as gone (systemActive).
constexpr int kIdleMs = 1000;
// How often a recording asks which devices are the defaults: a device the desktop switches to
// is followed within this.
constexpr int kWatchMs = 200;
// How long the sound server may leave a recording's question unanswered before the recording
// counts it as gone (a suspended device still answers; a stopped server does not).
constexpr int kServerDeadlineMs = 5000;

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Trace lines on standard output (buffered).
// The compiler checks every call's format against its arguments: only literals reach here.
__attribute__((format(printf, 1, 2))) void Trace(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}

// Lowers the recorder's count of live capture threads when a thread body returns.
struct CaptureExit {
  std::atomic<int>& count;
  ~CaptureExit() { count -= 1; }
};

// A conversion, not yet initialised. Each input channel keeps its level on its side: one
// channel goes to both sides (the library's default spreads it 3 dB down), more are mixed down
// as "-ac 2" does, without the scaling to full scale that puts 5.1 about 9 dB down.
SwrPtr MakeResampler(uint64_t inLayoutMask, int inChannels, int inRate, int inFormat, uint64_t outLayoutMask,
                     int outRate, int outFormat) {
  AVChannelLayout inLayout{}, outLayout{};
  if (inLayoutMask)
    av_channel_layout_from_mask(&inLayout, inLayoutMask);
  else
    av_channel_layout_default(&inLayout, inChannels);
  av_channel_layout_from_mask(&outLayout, outLayoutMask);
  SwrContext* raw = nullptr;
  const int rc = swr_alloc_set_opts2(&raw, &outLayout, static_cast<AVSampleFormat>(outFormat), outRate,
                                     &inLayout, static_cast<AVSampleFormat>(inFormat), inRate, 0, nullptr);
  SwrPtr swr(rc < 0 ? nullptr : raw);
  std::vector<double> mix;
  const bool remix = av_channel_layout_compare(&inLayout, &outLayout) != 0;
  if (swr && remix &&
      (!LevelKeepingMatrix(&inLayout, outLayout.nb_channels, &mix) ||
       swr_set_matrix(swr.get(), mix.data(), inLayout.nb_channels) < 0))
    swr.reset();
  av_channel_layout_uninit(&inLayout);
  av_channel_layout_uninit(&outLayout);
  return swr;
}

// FFmpeg's name for a place the sound server names; 0 for one it has none for (the auxiliary
// channels of a microphone array, say).
uint64_t AvChannel(pa_channel_position_t position) {
  switch (position) {
    case PA_CHANNEL_POSITION_MONO:
    case PA_CHANNEL_POSITION_FRONT_CENTER: return AV_CH_FRONT_CENTER;
    case PA_CHANNEL_POSITION_FRONT_LEFT: return AV_CH_FRONT_LEFT;
    case PA_CHANNEL_POSITION_FRONT_RIGHT: return AV_CH_FRONT_RIGHT;
    case PA_CHANNEL_POSITION_REAR_CENTER: return AV_CH_BACK_CENTER;
    case PA_CHANNEL_POSITION_REAR_LEFT: return AV_CH_BACK_LEFT;
    case PA_CHANNEL_POSITION_REAR_RIGHT: return AV_CH_BACK_RIGHT;
    case PA_CHANNEL_POSITION_LFE: return AV_CH_LOW_FREQUENCY;
    case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER: return AV_CH_FRONT_LEFT_OF_CENTER;
    case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER: return AV_CH_FRONT_RIGHT_OF_CENTER;
    case PA_CHANNEL_POSITION_SIDE_LEFT: return AV_CH_SIDE_LEFT;
    case PA_CHANNEL_POSITION_SIDE_RIGHT: return AV_CH_SIDE_RIGHT;
    case PA_CHANNEL_POSITION_TOP_CENTER: return AV_CH_TOP_CENTER;
    case PA_CHANNEL_POSITION_TOP_FRONT_LEFT: return AV_CH_TOP_FRONT_LEFT;
    case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT: return AV_CH_TOP_FRONT_RIGHT;
    case PA_CHANNEL_POSITION_TOP_FRONT_CENTER: return AV_CH_TOP_FRONT_CENTER;
    case PA_CHANNEL_POSITION_TOP_REAR_LEFT: return AV_CH_TOP_BACK_LEFT;
    case PA_CHANNEL_POSITION_TOP_REAR_RIGHT: return AV_CH_TOP_BACK_RIGHT;
    case PA_CHANNEL_POSITION_TOP_REAR_CENTER: return AV_CH_TOP_BACK_CENTER;
    default: return 0;
  }
}

// How a device is recorded: its own rate and channels, in FFmpeg's order of their places, so
// that the conversion knows where each one stands (read in the server's default order, a 5.1
// device's front right was lost and its left landed on the right). A device whose places
// FFmpeg cannot all name, or names twice (an interface's "aux0", "aux1" ...), is recorded in its
// own order and taken as FFmpeg's default layout of its count: asked for as stereo instead,
// the server mixed nothing of it in. Past eight channels the server mixes it to stereo.
struct DeviceShape {
  pa_sample_spec spec{};
  pa_channel_map map{};
  uint64_t layout = 0;  // FFmpeg's channel mask of what the stream delivers
};

DeviceShape ShapeOf(const PulseDeviceFacts& device, pa_sample_format_t format) {
  DeviceShape shape;
  shape.spec = {format, device.sampleSpec.rate, device.sampleSpec.channels};
  const pa_channel_map& own = device.channelMap;
  const bool known = own.channels == shape.spec.channels && pa_channel_map_valid(&own);
  if (shape.spec.channels == 1) {
    pa_channel_map_init_mono(&shape.map);
    shape.layout = AV_CH_LAYOUT_MONO;
    return shape;
  }
  uint64_t layout = 0;
  for (int i = 0; known && i < own.channels; ++i) {
    const uint64_t bit = AvChannel(own.map[i]);
    if (bit == 0 || (layout & bit)) {
      layout = 0;
      break;
    }
    layout |= bit;
  }
  if (!known || shape.spec.channels > 8) {
    shape.spec.channels = 2;
    pa_channel_map_init_stereo(&shape.map);
    shape.layout = AV_CH_LAYOUT_STEREO;
    return shape;
  }
  if (layout == 0) {
    shape.map = own;
    shape.layout = 0;  // the default layout of the count
    return shape;
  }
  shape.layout = layout;
  shape.map.channels = shape.spec.channels;
  int at = 0;
  // FFmpeg's order is that of its bits: the device's places sorted by them.
  for (uint64_t bit = 1; bit != 0 && at < shape.spec.channels; bit <<= 1) {
    if (!(layout & bit)) continue;
    for (int i = 0; i < own.channels; ++i)
      if (AvChannel(own.map[i]) == bit) shape.map.map[at++] = own.map[i];
  }
  return shape;
}

// The source called `name` when it is a microphone (not a sink's monitor).
bool FindMicrophone(PulseConnection& pulse, const std::string& name, PulseDeviceFacts& found) {
  std::vector<PulseDeviceFacts> sources;
  if (!pulse.ListSources(sources)) return false;
  for (const auto& s : sources) {
    if (s.name == name && !s.isMonitor) {
      found = s;
      return true;
    }
  }
  return false;
}

// The default source when it is a microphone.
bool DefaultMicrophone(PulseConnection& pulse, PulseDeviceFacts& found) {
  std::string sink, source;
  return pulse.DefaultNames(sink, source) && FindMicrophone(pulse, source, found);
}

// The sink called `name`, when it has a monitor to record what it plays.
bool FindSink(PulseConnection& pulse, const std::string& name, PulseDeviceFacts& found) {
  std::vector<PulseDeviceFacts> sinks;
  if (!pulse.ListSinks(sinks)) return false;
  for (const auto& s : sinks)
    if (s.name == name && !s.monitorSourceName.empty()) {
      found = s;
      return true;
    }
  return false;
}

// Asks the server, on a connection of the capture thread's own, which devices are the defaults
// as soon as it tells of a change, and every kWatchMs anyway (which also finds a server that
// stopped answering), so that the thread can follow the one of its side.
class DefaultWatch {
 public:
  enum Answer { kNotDue, kAnswered, kNoAnswer };
  // False when no server answers, or the recording stops meanwhile.
  bool Connect(const std::atomic<bool>* stop) {
    stop_ = stop;
    pulse_.SetTimeoutMs(kServerDeadlineMs);
    return pulse_.Connect("Tunewell", stop) && pulse_.Subscribe([this] { changed_ = true; });
  }
  PulseConnection& Pulse() { return pulse_; }
  // The default sink's and source's names when it is time to ask; kNoAnswer when the server
  // did not answer within kServerDeadlineMs (or the recording stopped meanwhile).
  Answer Ask(std::string& sink, std::string& source) {
    const auto now = std::chrono::steady_clock::now();
    if (!changed_.exchange(false) && now < next_) return kNotDue;
    next_ = now + std::chrono::milliseconds(kWatchMs);
    if (pulse_.DefaultNames(sink, source)) return kAnswered;
    if (!stop_->load()) LOG(ERROR) << "the sound server stopped answering";
    return kNoAnswer;
  }

 private:
  const std::atomic<bool>* stop_ = nullptr;
  std::atomic<bool> changed_{false};  // set on libpulse's thread; outlives the connection below
  PulseConnection pulse_;
  std::chrono::steady_clock::time_point next_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWatchMs);
};

}  // namespace

bool IsDigitalSilence(const uint8_t* data, size_t bytes) {
  if (bytes == 0) return true;
  return data[0] == 0 && std::memcmp(data, data + 1, bytes - 1) == 0;
}

std::string CutUtf8(const std::string& text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

int EnumAudioInputDevices(std::vector<CaptureDeviceRecord>& list) {
  list.clear();
  PulseConnection pulse;
  std::vector<PulseDeviceFacts> sources;
  if (!pulse.Connect("Tunewell") || !pulse.ListSources(sources)) return -1;
  for (const auto& s : sources) {
    if (s.isMonitor) continue;
    list.push_back(CaptureDeviceRecord{CutUtf8(s.description, 127), CutUtf8(s.name, 255)});
  }
  return 0;
}

int OpenMicrophone(AudioRecorder* r) {
  PulseDeviceFacts mic;
  {
    PulseConnection pulse;
    if (!pulse.Connect("Tunewell", &r->stopRequested)) {
      LOG(ERROR) << "dshow not soport";
      return -1;
    }
    if (!DefaultMicrophone(pulse, mic)) {
      LOG(ERROR) << "psDevName:" << "" << " avformat_open_input err,ret=" << -1 << ",errstr=no microphone";
      return -1;
    }
  }
  Trace("device name: %s\n", mic.description.c_str());
  Trace("audiodevice: %s\n", mic.name.c_str());
  r->outChannels = av_popcount64(r->outChannelLayout);
  if (UseMicrophone(r, mic) < 0) return -1;
  r->micFifo.reset(av_audio_fifo_alloc(static_cast<AVSampleFormat>(r->outSampleFormat), 2, r->outSampleRate * 6));
  if (!r->micFifo) {
    LOG(ERROR) << "Could not allocate audio fifo";
    return -1;
  }
  return 0;
}

int UseMicrophone(AudioRecorder* r, const PulseDeviceFacts& mic) {
  // Record in the device's own rate, channels and (where FFmpeg has it) format, and convert
  // from exactly that.
  int format = AvFormatFromPulse(mic.sampleSpec.format);
  const DeviceShape shape =
      ShapeOf(mic, format == AV_SAMPLE_FMT_NONE ? PA_SAMPLE_FLOAT32NE : mic.sampleSpec.format);
  if (format == AV_SAMPLE_FMT_NONE) format = AV_SAMPLE_FMT_FLT;
  const pa_sample_spec& spec = shape.spec;
  auto input = std::make_unique<PulseRecordStream>();
  if (input->Open(mic.name, spec, kFragmentMs, "Tunewell microphone", &r->stopRequested, &shape.map) < 0) {
    LOG(ERROR) << "psDevName:" << mic.name << " avformat_open_input err,ret=" << -1
               << ",errstr=the source cannot be recorded";
    return -1;
  }
  const bool processing = r->noiseSuppression || r->gainControl;
  SwrPtr toOutput = processing ? MakeResampler(AV_CH_LAYOUT_MONO, 1, kVoiceRate, AV_SAMPLE_FMT_S16,
                                               r->outChannelLayout, r->outSampleRate, r->outSampleFormat)
                               : MakeResampler(shape.layout, spec.channels, static_cast<int>(spec.rate), format,
                                               r->outChannelLayout, r->outSampleRate, r->outSampleFormat);
  if (!toOutput) {
    LOG(ERROR) << "Could not allocate resampler context";
    return -1;
  }
  if (swr_init(toOutput.get()) < 0) {
    LOG(ERROR) << "Failed to initialize the resampling context";
    return -1;
  }
  r->micInput = std::move(input);
  // With processing, the voice goes on through the conversion it had (from the processing
  // rate); the new device's mix down to it is made on its first piece.
  if (!(processing && r->micToOutputResampler)) r->micToOutputResampler = std::move(toOutput);
  r->micResampler.reset();
  r->micDeviceName = mic.name;
  r->micSampleRate = static_cast<int>(spec.rate);
  r->micSampleFormat = format;
  r->micChannels = spec.channels;
  r->micChannelLayout = shape.layout;
  return 0;
}

int MicCaptureThread(AudioRecorder* r) {
  CaptureExit exitGuard{r->captureThreadsRunning};
  VoiceProcessor voice;
  switch (voice.Create(r->noiseSuppression != 0, r->gainControl != 0, r->gainDb)) {
    case VoiceProcessor::kOk:
      break;
    case VoiceProcessor::kCreateFailed:
      LOG(ERROR) << "WebRtcNs_Create error";
      return -1;
    case VoiceProcessor::kNoiseLevelFailed:
      LOG(ERROR) << "WebRtcNs_set_policy error";
      return -1;
    case VoiceProcessor::kGainConfigFailed:
      LOG(ERROR) << "WebRtcAgc_set_config error";
      return -1;
  }
  const bool processing = r->noiseSuppression || r->gainControl;
  DefaultWatch watch;
  if (!watch.Connect(&r->stopRequested)) return r->stopRequested ? 0 : -1;
  std::string refused;  // a default source not followed
  std::vector<uint8_t> piece;
  std::vector<int16_t> mono, processed;

  // Runs the 10-ms frames held in processingBuffer; a partial frame waits for the next
  // piece. On a failing frame the rest of the buffer is dropped so that it cannot stall.
  auto walk = [&]() {
    int offset = 0;
    while (r->processingFill - offset >= kVoiceFrameBytes) {
      auto* frame = reinterpret_cast<int16_t*>(r->processingBuffer.get() + offset);
      if (voice.ProcessFrame(frame) != 0) {
        Trace("failed in WebRtcAgc_Process\n");
        r->processingFill = 0;
        return;
      }
      processed.insert(processed.end(), frame, frame + kVoiceFrameSamples);
      offset += kVoiceFrameBytes;
    }
    const int left = r->processingFill - offset;
    if (left > 0 && offset > 0) std::memmove(r->processingBuffer.get(), r->processingBuffer.get() + offset, left);
    r->processingFill = left;
  };

  while (!r->stopRequested) {
    std::string sinkName, sourceName;
    const DefaultWatch::Answer answer = watch.Ask(sinkName, sourceName);
    if (answer == DefaultWatch::kNoAnswer && r->stopRequested) break;
    if (answer == DefaultWatch::kNoAnswer) return kCaptureServerSilent;
    PulseDeviceFacts next;
    if (answer == DefaultWatch::kAnswered && sourceName != r->micDeviceName && sourceName != refused) {
      // A microphone unplugged is the end of the recording, whatever the server takes instead.
      if (!FindMicrophone(watch.Pulse(), r->micDeviceName, next)) {
        LOG(ERROR) << "the microphone went away";
        return watch.Pulse().Connected() ? -1 : kCaptureServerSilent;
      }
      if (FindMicrophone(watch.Pulse(), sourceName, next) && UseMicrophone(r, next) == 0)
        LOG(INFO) << "the microphone now records from " << next.name;
      else
        refused = sourceName;  // a sink's monitor, or a device that cannot be opened
    }
    if (r->voiceSource == SourceAll) {
      while (!(r->micFlushed && r->systemDrained) && !r->stopRequested) {
        r->micInput->Flush();
        r->micFlushed = true;
        SleepMs(5);
      }
    }
    piece.clear();
    const long bytes = r->micInput->ReadPiece(piece);
    if (bytes < 0) {
      // The device or the server went away: nothing more will come.
      LOG(ERROR) << "read audio packet err";
      return r->micInput->ServerLost() ? kCaptureServerSilent : -1;
    }
    if (bytes == 0) {
      r->micInput->WaitData(20);  // a stop or a new default device is seen within 20 ms
      continue;
    }
    if (!r->running) continue;
    const int bytesPerFrame =
        r->micChannels * av_get_bytes_per_sample(static_cast<AVSampleFormat>(r->micSampleFormat));
    const int frameSamples = static_cast<int>(bytes / bytesPerFrame);
    if (frameSamples <= 0) continue;
    const uint8_t* input[1] = {piece.data()};

    const uint8_t** source = input;
    int count = frameSamples;
    int sourceRate = r->micSampleRate;
    const uint8_t* processedPlane[1] = {nullptr};
    if (processing) {
      if (!r->micResampler) {
        r->micResampler = MakeResampler(r->micChannelLayout, r->micChannels, r->micSampleRate, r->micSampleFormat,
                                        AV_CH_LAYOUT_MONO, kVoiceRate, AV_SAMPLE_FMT_S16);
        if (!r->micResampler) {
          LOG(ERROR) << "swr alloc error";
          return -1;
        }
        if (swr_init(r->micResampler.get()) < 0) {
          LOG(ERROR) << "swr init error";
          return -1;
        }
      }
      const int capacity = static_cast<int>(av_rescale_rnd(
          swr_get_delay(r->micResampler.get(), r->micSampleRate) + frameSamples, kVoiceRate, r->micSampleRate,
          AV_ROUND_UP));
      mono.resize(static_cast<size_t>(capacity));
      uint8_t* monoOut[1] = {reinterpret_cast<uint8_t*>(mono.data())};
      const int n = swr_convert(r->micResampler.get(), monoOut, capacity, input, frameSamples);
      if (n < 0) {
        LOG(ERROR) << "Error while converting";
        return -1;
      }
      if (!r->processingBuffer) {
        r->processingBuffer = std::make_unique<uint8_t[]>(static_cast<size_t>(r->processingCapacity));
        r->processingFill = 0;
      }
      processed.clear();
      // Append in portions that fit, so the buffer is never filled past its capacity.
      const auto* from = reinterpret_cast<const uint8_t*>(mono.data());
      int remaining = n * 2;
      while (remaining > 0) {
        const int portion = std::min(remaining, r->processingCapacity - r->processingFill);
        std::memcpy(r->processingBuffer.get() + r->processingFill, from, static_cast<size_t>(portion));
        r->processingFill += portion;
        from += portion;
        remaining -= portion;
        walk();
      }
      // Fewer than 10 ms so far: nothing to hand on until the next piece.
      if (processed.empty()) continue;
      processedPlane[0] = reinterpret_cast<const uint8_t*>(processed.data());
      source = processedPlane;
      count = static_cast<int>(processed.size());
      sourceRate = kVoiceRate;
    }

    int outCount = static_cast<int>(av_rescale_rnd(count, r->outSampleRate, sourceRate, AV_ROUND_UP));
    if (outCount <= 0) {
      LOG(ERROR) << "av_rescale_rnd error";
      return -1;
    }
    const int withDelay = static_cast<int>(
        av_rescale_rnd(swr_get_delay(r->micToOutputResampler.get(), sourceRate) + count, r->outSampleRate,
                       sourceRate, AV_ROUND_UP));
    if (withDelay > outCount) outCount = withDelay;
    uint8_t** outData = nullptr;
    int lineSize = 0;
    if (av_samples_alloc_array_and_samples(&outData, &lineSize, r->outChannels, outCount,
                                           static_cast<AVSampleFormat>(r->outSampleFormat), 0) < 0) {
      LOG(ERROR) << "av_samples_alloc_array_and_samples error";
      return -1;
    }
    const int m = swr_convert(r->micToOutputResampler.get(), outData, outCount, source, count);
    if (m < 0) {
      av_freep(&outData[0]);
      av_freep(&outData);
      LOG(ERROR) << "Error while converting";
      return -1;
    }
    {
      std::unique_lock<std::mutex> lock(r->micFifoLock);
      bool write = true;
      while (av_audio_fifo_space(r->micFifo.get()) < m) {
        LOG(ERROR) << "audio fifo space is not enough";
        if (r->stopRequested) {
          write = false;
          break;
        }
        r->micFifoSignal.wait_for(lock, std::chrono::milliseconds(400));
      }
      if (write && m > 0) av_audio_fifo_write(r->micFifo.get(), reinterpret_cast<void**>(outData), m);
    }
    r->micFifoSignal.notify_all();
    av_freep(&outData[0]);
    av_freep(&outData);
  }
  Trace("micophone audio capture thread exit\n");
  return 0;
}

namespace {

// The default sink: its monitor is what the system plays. False (and logged) when the sink
// cannot be found.
bool FindSpeaker(PulseConnection& pulse, PulseDeviceFacts& speaker) {
  std::string sinkName, sourceName;
  if (pulse.DefaultNames(sinkName, sourceName) && FindSink(pulse, sinkName, speaker)) return true;
  LOG(ERROR) << "Get Default Audio Endpoint error";
  return false;
}

// Converts what the monitor delivers (32-bit integer samples of the sink's layout) and hands
// it to the encoder's FIFO at once: nothing waits in a block of its own, so the FIFO always
// ends at the newest sound and silence is never taken for the sound before it. Used by the
// loopback thread alone; the FIFO lives until that thread has ended.
class SystemFeed {
 public:
  SystemFeed(AVAudioFifo* fifo, std::mutex& fifoLock, uint64_t layout, int channels, int rate)
      : fifo_(fifo), fifoLock_(fifoLock), layout_(layout), channels_(channels), rate_(rate) {}

  bool Open(uint64_t outLayout, int outRate, int outFormat) {
    swr_ = MakeResampler(layout_, channels_, rate_, AV_SAMPLE_FMT_S32, outLayout, outRate, outFormat);
    if (!swr_) {
      LOG(ERROR) << "Could not allocate resampler context";
      return false;
    }
    if (swr_init(swr_.get()) < 0) {
      LOG(ERROR) << "swr_init error";
      return false;
    }
    out_ = MakeFrame();
    if (!out_) {
      LOG(ERROR) << "frame alloc error";
      return false;
    }
    out_->format = outFormat;
    av_channel_layout_default(&out_->ch_layout, 2);
    out_->sample_rate = outRate;
    // Room for one conversion of kConvertFrames and what the conversion still holds.
    out_->nb_samples = static_cast<int>(av_rescale_rnd(kConvertFrames + 64, outRate, rate_, AV_ROUND_UP));
    if (av_frame_get_buffer(out_.get(), 0) < 0) {
      LOG(ERROR) << "av_frame_get_buffer error";
      return false;
    }
    return true;
  }

  // Converts `frames` interleaved frames, or with none what the conversion still holds.
  bool Deliver(const uint8_t* data, int frames) {
    const int frameBytes = channels_ * 4;
    do {
      const int now = std::min(frames, kConvertFrames);
      const uint8_t* in[1] = {data};
      const int got = swr_convert(swr_.get(), out_->data, out_->nb_samples, now > 0 ? in : nullptr, now);
      if (got < 0) {
        LOG(ERROR) << "swr_convert  error";
        return false;
      }
      if (got > 0) {
        std::lock_guard<std::mutex> lock(fifoLock_);
        av_audio_fifo_write(fifo_, reinterpret_cast<void**>(out_->data), got);
      }
      if (now > 0) data += static_cast<size_t>(now) * frameBytes;
      frames -= now;
    } while (frames > 0);
    return true;
  }

 private:
  AVAudioFifo* fifo_;
  std::mutex& fifoLock_;
  uint64_t layout_;
  int channels_;
  int rate_;
  SwrPtr swr_;
  FramePtr out_;
};

// The monitor of one sink, recorded in its own rate and channels as 32-bit integer samples and
// converted for the encoder.
struct SystemDevice {
  std::string sink;
  int rate = 0;
  int blockAlign = 0;
  PulseRecordStream stream;
  std::unique_ptr<SystemFeed> feed;
};

// Where the system sound goes: the recorder's FIFO, in the encoder's format.
struct SystemTarget {
  AVAudioFifo* fifo;
  std::mutex& fifoLock;
  uint64_t layout;
  int rate;
  int format;
  const std::atomic<bool>* stop;
};

// Null (and logged) when the monitor cannot be recorded.
std::unique_ptr<SystemDevice> OpenSystemDevice(const SystemTarget& target, const PulseDeviceFacts& speaker) {
  auto device = std::make_unique<SystemDevice>();
  const DeviceShape shape = ShapeOf(speaker, PA_SAMPLE_S32NE);
  const int channels = shape.spec.channels;
  device->sink = speaker.name;
  device->rate = static_cast<int>(shape.spec.rate);
  device->blockAlign = channels * 4;
  LOG(INFO) << "nChannels: " << channels;
  LOG(INFO) << "nSamplesPerSec: " << device->rate;
  LOG(INFO) << "wBitsPerSample: " << 32;
  LOG(INFO) << "nBlockAlign: " << device->blockAlign;
  if (device->stream.Open(speaker.monitorSourceName, shape.spec, kFragmentMs, "Tunewell system sound",
                          target.stop, &shape.map) < 0) {
    if (!*target.stop) LOG(ERROR) << "AudioClient Initialize  error";
    return nullptr;
  }
  device->feed =
      std::make_unique<SystemFeed>(target.fifo, target.fifoLock, shape.layout, channels, device->rate);
  if (!device->feed->Open(target.layout, target.rate, target.format)) return nullptr;
  return device;
}

}  // namespace

int LoopbackCaptureThread(AudioRecorder* r) {
  CaptureExit exitGuard{r->captureThreadsRunning};
  DefaultWatch watch;
  PulseDeviceFacts speaker;
  if (!watch.Connect(&r->stopRequested)) {
    if (!r->stopRequested) LOG(ERROR) << "CoCreateInstance error";
    return r->stopRequested ? 0 : -1;
  }
  if (!FindSpeaker(watch.Pulse(), speaker)) return r->stopRequested ? 0 : -1;
  const SystemTarget target{r->systemFifo.get(), r->systemFifoLock, r->outChannelLayout,
                            r->outSampleRate,      r->outSampleFormat, &r->stopRequested};
  std::unique_ptr<SystemDevice> device = OpenSystemDevice(target, speaker);
  if (!device) return r->stopRequested ? 0 : -1;
  std::string refused;  // a default sink not followed
  std::vector<uint8_t> piece;
  int idleMs = 0;

  while (!r->stopRequested) {
    std::string sinkName, sourceName;
    const DefaultWatch::Answer answer = watch.Ask(sinkName, sourceName);
    if (answer == DefaultWatch::kNoAnswer && r->stopRequested) break;
    if (answer == DefaultWatch::kNoAnswer) return kCaptureServerSilent;
    if (answer == DefaultWatch::kAnswered && sinkName != device->sink && sinkName != refused) {
      // The desktop moved the players to another output: record that one from now on, after what
      // the old one's conversion still holds.
      // An output that went away ends the recording of it, whatever the server takes instead.
      PulseDeviceFacts next;
      if (!FindSink(watch.Pulse(), device->sink, next)) {
        LOG(ERROR) << "the recorded output went away";
        return watch.Pulse().Connected() ? -1 : kCaptureServerSilent;
      }
      std::unique_ptr<SystemDevice> moved;
      if (FindSink(watch.Pulse(), sinkName, next)) moved = OpenSystemDevice(target, next);
      if (moved && device->feed->Deliver(nullptr, 0)) {
        device = std::move(moved);
        LOG(INFO) << "the system sound now comes from " << next.name;
      } else {
        refused = sinkName;
      }
    }
    if (r->voiceSource == SourceAll) {
      // Start alignment: the backlog is dropped until the microphone has dropped its own.
      while (!(r->systemDrained && r->micFlushed) && !r->stopRequested) {
        piece.clear();
        const long n = device->stream.ReadPiece(piece);
        if (n < 0) break;
        if (n == 0) {
          r->systemDrained = true;
          device->stream.WaitData(10);
        }
      }
    }
    piece.clear();
    const long bytes = device->stream.ReadPiece(piece);
    if (bytes < 0) {
      LOG(ERROR) << "AudioCaptureClient GetBuffer  error";
      return device->stream.ServerLost() ? kCaptureServerSilent : -1;
    }
    if (bytes == 0) {
      // Nothing delivered for kIdleMs (a suspended sink, a stuck server): the encoder stops
      // waiting for this side and fills it with silence until sound comes again.
      const auto waitStart = std::chrono::steady_clock::now();
      if (device->stream.WaitData(20)) continue;
      idleMs += static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - waitStart)
              .count());
      if (idleMs >= kIdleMs) {
        r->systemActive = false;
        idleMs = 0;
      }
      continue;
    }
    idleMs = 0;
    if (!r->running) continue;  // sound played while paused is dropped
    const int frames = static_cast<int>(bytes / device->blockAlign);
    if (r->voiceSource == SourceSystem && r->systemStart == SystemStartWaiting) {
      // The system sound alone starts with the first sound the device gives: a sink that had
      // rendered ahead for a player with a big buffer gives nothing for up to two seconds,
      // and the sound of that time was handed out before the recording joined, so no silence
      // may stand in for it. When the first thing the device gives is silence, the recording
      // started over quiet: the time waited is kept as silence, so that a sound that starts
      // later lands where it was played. The encoder may have given up waiting already.
      const bool silent = IsDigitalSilence(piece.data(), static_cast<size_t>(bytes));
      int waiting = SystemStartWaiting;
      if (r->systemStart.compare_exchange_strong(waiting, silent ? SystemStartClock : SystemStartDevice) &&
          silent)
        r->PutSilence(r->systemFifo.get(), r->systemFifoLock,
                      (r->RecordedMs() - static_cast<int64_t>(frames) * 1000 / device->rate) * r->outSampleRate / 1000);
    }
    if (!device->feed->Deliver(piece.data(), frames)) return -1;
    r->systemActive = true;
  }
  // What the conversion still holds belongs to the recording too.
  if (!device->feed->Deliver(nullptr, 0)) return -1;
  Trace("speaker audio capture thread exit\n");
  return 0;
}

}  // namespace tw
