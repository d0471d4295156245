#include "media/AudioRecorder.h"

#include <glog/logging.h>
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "media/CaptureSources.h"
#include "media/PulseClient.h"
#include "tasks/ResultFile.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
}

namespace tw {
namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// How long the system sound alone waits for the device's first data before it records
// silence from the start: a sink renders at most two seconds ahead.
constexpr int64_t kFirstSoundWaitMs = 2500;
// The encoder's poll while it waits for system sound that is on its way.
constexpr int kSystemPollMs = 10;

// Trace lines of the engine on standard output (buffered: some come once per frame).
// The compiler checks every call's format against its arguments: only literals reach here.
__attribute__((format(printf, 1, 2))) void Trace(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}

}  // namespace

RecorderSettings ReadRecorderSettings() {
  const SettingsFile& settings = SettingsFile::Instance();
  RecorderSettings s;
  s.noiseSuppression = settings.GetInt(kSettingsSection, kKeyNoiseCheck, 0);
  s.gainControl = settings.GetInt(kSettingsSection, kKeyAgcCheck, 0);
  s.voiceSource = settings.GetInt(kSettingsSection, kKeyVoiceSource, 0);
  s.muteRecording = settings.GetInt(kSettingsSection, kKeyAudioMuteCheck, 0);
  s.gainDb = settings.GetInt(kSettingsSection, kKeyVoiceSize, 20);
  return s;
}

AudioRecorder::AudioRecorder(MessageSink* owner) : ownerWindow(owner) {}

AudioRecorder::~AudioRecorder() {
  if (started) {
    if (!stopRequested) Stop();
    if (finishThread.joinable()) finishThread.join();
  }
}

std::string AudioRecorder::OutputPath() const { return folder + "/" + fileName; }

int AudioRecorder::Start(const std::string& name, const std::string& dir, int rate, int kind, bool haveMic,
                         const std::string& deviceName) {
  if (started) return -1;
  fileName = name;
  folder = dir;
  codecKind = kind;
  bitRate = rate;
  micAvailable = haveMic;
  captureDeviceName = deviceName;
  systemDrained = false;
  micFlushed = false;

  const RecorderSettings settings = overrides_ ? *overrides_ : ReadRecorderSettings();
  noiseSuppression = settings.noiseSuppression;
  gainControl = settings.gainControl;

  codecId = AV_CODEC_ID_AAC;
  frameSize = 1024;
  voiceSource = -1;
  state = Idle;
  running = false;
  stopRequested = false;
  micChannelLayout = outChannelLayout = AV_CH_LAYOUT_STEREO;
  micSampleRate = outSampleRate = 44100;
  micSampleFormat = AV_SAMPLE_FMT_S16;
  outSampleFormat = AV_SAMPLE_FMT_FLTP;
  nextPts = 0;
  lastPostedSecond = 0;
  systemActive = false;
  systemStart = SystemStartWaiting;
  failure = FailureNone;
  submittedSamples = 0;
  {
    std::lock_guard<std::mutex> lock(clockLock);
    recordedBeforeMs = 0;
    runningSinceMs = -1;
  }

  voiceSource = settings.voiceSource;
  muteRecording = settings.muteRecording;
  gainDb = settings.gainDb;

  const std::string path = OutputPath();
  AVFormatContext* ctx = nullptr;
  if (avformat_alloc_output_context2(&ctx, nullptr, nullptr, path.c_str()) < 0 || !ctx) {
    LOG(ERROR) << "Could not create output context";
    return -1;
  }
  output.reset(ctx);

  const int opened = OpenSources();
  if (opened < 0) {
    LOG(ERROR) << "音频参数初始化失败";
    AbortStart();
    return opened;
  }
  if (!micAvailable) voiceSource = SourceSystem;

  const bool capturing = muteRecording == 0;
  if (capturing && voiceSource == SourceAll && BuildMixGraph() < 0) {
    LOG(ERROR) << "混音参数初始化失败";
    AbortStart();
    return -1;
  }
  if (capturing && (voiceSource == SourceAll || voiceSource == SourceSystem)) {
    systemFifo.reset(av_audio_fifo_alloc(static_cast<AVSampleFormat>(outSampleFormat), outChannels, 22050 * 6));
    if (!systemFifo) {
      AbortStart();
      return -1;
    }
  }

  started = true;
  packet = MakePacket();
  encodeThread = std::thread([this] {
    pthread_setname_np(pthread_self(), "tw-encode");
    EncodeThread();
  });
  if (capturing) {
    const bool mic = voiceSource == SourceAll || voiceSource == SourceMicrophone;
    const bool system = voiceSource == SourceAll || voiceSource == SourceSystem;
    captureThreadsRunning = (mic ? 1 : 0) + (system ? 1 : 0);
    if (mic)
      micThread = std::thread([this] {
        pthread_setname_np(pthread_self(), "tw-mic");
        // Without its microphone the encoder waits for sound that never comes.
        const int rc = MicCaptureThread(this);
        if (rc < 0) ReportFailure(rc == kCaptureServerSilent ? FailureServer : FailureDevice);
      });
    if (system)
      loopbackThread = std::thread([this] {
        pthread_setname_np(pthread_self(), "tw-loopback");
        // Without its system sound the file would go on as silence.
        const int rc = LoopbackCaptureThread(this);
        if (rc < 0) ReportFailure(rc == kCaptureServerSilent ? FailureServer : FailureDevice);
        systemActive = false;  // nothing more comes: the encoder must not wait for it
      });
  }
  finishThread = std::thread([this] {
    pthread_setname_np(pthread_self(), "tw-finish");
    FinishThread();
  });
  return 0;
}

void AudioRecorder::AbortStart() {
  const bool removeFile = fileClaimed;
  ReleaseMedia();
  if (removeFile) unlink(OutputPath().c_str());
}

void AudioRecorder::ReportFailure(int kind) {
  // A device or server that ends because the recording stops has not failed; a write that
  // fails has, even while the file is being finished.
  if ((kind == FailureDevice || kind == FailureServer) && stopRequested) return;
  int none = FailureNone;
  if (!failure.compare_exchange_strong(none, kind)) return;
  const char* what = kind == FailureWrite    ? "the file cannot be written"
                     : kind == FailureServer ? "the sound server stopped answering"
                     : kind == FailureEncode ? "the sound cannot be encoded"
                                             : "a sound device went away";
  LOG(ERROR) << "the recording of " << OutputPath() << " cannot go on: " << what;
  if (!stopRequested) PostValue(ownerWindow, WM_RECORD_FAILED, kind);
}

void AudioRecorder::StopClock() {
  std::lock_guard<std::mutex> lock(clockLock);
  if (runningSinceMs >= 0) recordedBeforeMs += NowMs() - runningSinceMs;
  runningSinceMs = -1;
}

int AudioRecorder::Pause() {
  StopClock();
  state = Paused;
  running = false;
  return 0;
}

int AudioRecorder::Resume() {
  {
    std::lock_guard<std::mutex> lock(clockLock);
    if (runningSinceMs < 0) runningSinceMs = NowMs();
  }
  state = Recording;
  running = true;
  return 0;
}

int64_t AudioRecorder::RecordedMs() const {
  std::lock_guard<std::mutex> lock(clockLock);
  return recordedBeforeMs + (runningSinceMs >= 0 ? NowMs() - runningSinceMs : 0);
}

int AudioRecorder::Stop() {
  StopClock();
  state = Stopped;
  running = false;
  stopRequested = true;
  systemActive = false;
  micFifoSignal.notify_all();
  {
    std::lock_guard<std::mutex> lock(stopLock);
    stopSignalled = true;
  }
  stopEvent.notify_all();
  return 0;
}

bool AudioRecorder::WaitFinished(int timeoutMs) {
  if (!started) return true;
  std::unique_lock<std::mutex> lock(finishLock);
  return finishSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return finished.load(); });
}

int AudioRecorder::OpenSources() {
  if (muteRecording == 0 && (voiceSource == SourceAll || voiceSource == SourceMicrophone) && micAvailable) {
    if (OpenMicrophone(this) < 0) return -1;
  }
  if (codecKind == CodecMp3) {
    codecId = AV_CODEC_ID_MP3;
    frameSize = 1152;
    outSampleFormat = AV_SAMPLE_FMT_FLTP;
  } else if (codecKind == CodecAac) {
    codecId = AV_CODEC_ID_AAC;
    frameSize = 1024;
    outSampleFormat = AV_SAMPLE_FMT_FLTP;
  }
  const AVCodec* codec = avcodec_find_encoder(static_cast<AVCodecID>(codecId));
  if (!codec) {
    Trace("audio codec not found \n");
    return -1;
  }
  encoder.reset(avcodec_alloc_context3(codec));
  if (!encoder) return -1;
  encoder->bit_rate = bitRate;
  encoder->codec_id = static_cast<AVCodecID>(codecId);
  encoder->codec_type = AVMEDIA_TYPE_AUDIO;
  encoder->sample_fmt = static_cast<AVSampleFormat>(outSampleFormat);
  encoder->sample_rate = outSampleRate;
  av_channel_layout_from_mask(&encoder->ch_layout, outChannelLayout);
  outChannels = encoder->ch_layout.nb_channels;
  encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  encoder->time_base = AVRational{1, outSampleRate};
  if (avcodec_open2(encoder.get(), codec, nullptr) < 0) {
    Trace("open audio encode err\n");
    return -1;
  }
  // The encoder may want another frame size than the table's (AAC in some builds).
  if (encoder->frame_size > 0) frameSize = encoder->frame_size;

  outputStream = avformat_new_stream(output.get(), nullptr);
  if (!outputStream) return -1;
  outputStream->codecpar->codec_tag = 0;
  if (avcodec_parameters_from_context(outputStream->codecpar, encoder.get()) < 0) return -1;
  outputStream->time_base = encoder->time_base;

  // The name is claimed before anything is written: never another file, and a recording cut
  // short by a crash stays under its name, readable up to the cut.
  const std::string claimed = ClaimResultName(OutputPath());
  if (claimed.empty()) {
    LOG(ERROR) << "Could not create the output file " << OutputPath() << ": " << std::strerror(errno);
    return -1;
  }
  fileName = claimed.substr(claimed.rfind('/') + 1);
  fileClaimed = true;  // from here on the file is this recording's
  const std::string path = OutputPath();
  av_dump_format(output.get(), 0, path.c_str(), 1);
  if (!(output->oformat->flags & AVFMT_NOFILE)) {
    // The "file:" prefix keeps a name with a colon from being read as a protocol.
    const int rc = avio_open(&output->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
      char text[AV_ERROR_MAX_STRING_SIZE] = {0};
      av_strerror(rc, text, sizeof text);
      LOG(ERROR) << "Could not open output file " << path << ": " << text;
      return -1;
    }
    outputOpened = true;
  }
  if (avformat_write_header(output.get(), nullptr) < 0) return -1;
  return 0;
}

int AudioRecorder::BuildMixGraph() {
  mixGraph.reset(avfilter_graph_alloc());
  const AVFilter* source = avfilter_get_by_name("abuffer");
  const AVFilter* sink = avfilter_get_by_name("abuffersink");
  if (!mixGraph || !source || !sink) return -1;

  char args[512];
  std::snprintf(args, sizeof args, "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%d",
                encoder->time_base.num, encoder->time_base.den, encoder->sample_rate,
                av_get_sample_fmt_name(encoder->sample_fmt), 3);
  Trace("args_spk: %s\n", args);
  Trace("args_mic: %s\n", args);

  if (avfilter_graph_create_filter(&systemSource, source, "in0", args, nullptr, mixGraph.get()) < 0) {
    LOG(ERROR) << "Filter: failed to call avfilter_graph_create_filter -- src spk";
    return -1;
  }
  if (avfilter_graph_create_filter(&micSource, source, "in1", args, nullptr, mixGraph.get()) < 0) {
    LOG(ERROR) << "Filter: failed to call avfilter_graph_create_filter -- src mic";
    return -1;
  }
  if (avfilter_graph_create_filter(&mixSink, sink, "out", nullptr, nullptr, mixGraph.get()) < 0) {
    LOG(ERROR) << "Filter: failed to call avfilter_graph_create_filter -- sink";
    return -1;
  }
  const AVSampleFormat sampleFormat = encoder->sample_fmt;
  const int64_t layout = static_cast<int64_t>(outChannelLayout);
  const int sampleRate = encoder->sample_rate;
  if (av_opt_set_bin(mixSink, "sample_fmts", reinterpret_cast<const uint8_t*>(&sampleFormat), sizeof sampleFormat,
                     AV_OPT_SEARCH_CHILDREN) < 0) {
    LOG(ERROR) << "Filter: failed to call av_opt_set_bin -- sample_fmts";
    return -1;
  }
  if (av_opt_set(mixSink, "ch_layouts", "stereo", AV_OPT_SEARCH_CHILDREN) < 0 || layout != AV_CH_LAYOUT_STEREO) {
    LOG(ERROR) << "Filter: failed to call av_opt_set_bin -- channel_layouts";
    return -1;
  }
  if (av_opt_set_bin(mixSink, "sample_rates", reinterpret_cast<const uint8_t*>(&sampleRate), sizeof sampleRate,
                     AV_OPT_SEARCH_CHILDREN) < 0) {
    LOG(ERROR) << "Filter: failed to call av_opt_set_bin -- sample_rates";
    return -1;
  }

  AVFilterInOut* outputs = avfilter_inout_alloc();
  AVFilterInOut* second = avfilter_inout_alloc();
  AVFilterInOut* inputs = avfilter_inout_alloc();
  if (!outputs || !second || !inputs) {
    avfilter_inout_free(&outputs);
    avfilter_inout_free(&second);
    avfilter_inout_free(&inputs);
    return -1;
  }
  outputs->name = av_strdup("in0");
  outputs->filter_ctx = systemSource;
  outputs->pad_idx = 0;
  outputs->next = second;
  second->name = av_strdup("in1");
  second->filter_ctx = micSource;
  second->pad_idx = 0;
  second->next = nullptr;
  inputs->name = av_strdup("out");
  inputs->filter_ctx = mixSink;
  inputs->pad_idx = 0;
  inputs->next = nullptr;
  // amix alone would put each source 6 dB down: the sum keeps each at its own level, and the
  // limiter (its look-ahead compensated) holds the sum 1 dB below full scale.
  const int parsed = avfilter_graph_parse_ptr(
      mixGraph.get(), "[in0][in1]amix=inputs=2:normalize=0,alimiter=limit=0.891251:level=false:latency=true[out]",
      &inputs, &outputs, nullptr);
  avfilter_inout_free(&inputs);
  avfilter_inout_free(&outputs);
  if (parsed < 0) {
    LOG(ERROR) << "Filter: failed to call avfilter_graph_parse_ptr";
    return -1;
  }
  if (avfilter_graph_config(mixGraph.get(), nullptr) < 0) {
    LOG(ERROR) << "Filter: failed to call avfilter_graph_config";
    return -1;
  }
  // The encoder takes whole frames only; the sink hands them out in that size.
  av_buffersink_set_frame_size(mixSink, static_cast<unsigned>(frameSize));
  return 0;
}

void AudioRecorder::PutSilence(AVAudioFifo* fifo, std::mutex& lock, int64_t samples) {
  FramePtr silence = MakeStreamFrame(true);
  if (!silence || !fifo) return;
  av_samples_set_silence(silence->data, 0, frameSize, outChannels, static_cast<AVSampleFormat>(outSampleFormat));
  std::lock_guard<std::mutex> guard(lock);
  for (; samples > 0; samples -= frameSize)
    av_audio_fifo_write(fifo, reinterpret_cast<void**>(silence->data),
                        static_cast<int>(std::min<int64_t>(samples, frameSize)));
}

FramePtr AudioRecorder::MakeStreamFrame(bool withBuffers) const {
  FramePtr frame = MakeFrame();
  if (!frame) return nullptr;
  frame->nb_samples = frameSize;
  av_channel_layout_from_mask(&frame->ch_layout, outChannelLayout);
  frame->format = outSampleFormat;
  frame->sample_rate = outSampleRate;
  if (withBuffers && av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
  return frame;
}

void AudioRecorder::EncodeThread() {
  int silenceCount = 0;
  int64_t pacingStart = NowMs();
  bool failed = false;
  while (!stopRequested) {
    while (!running && !stopRequested) {
      pacingStart = NowMs();
      silenceCount = 0;
      SleepMs(100);
    }
    if (stopRequested) break;
    av_packet_unref(packet.get());
    FramePtr micFrame = MakeStreamFrame(true);
    FramePtr systemFrame = MakeStreamFrame(true);
    FramePtr mixedFrame = MakeFrame();
    if (!micFrame || !systemFrame || !mixedFrame) {
      SleepMs(10);
      continue;
    }
    if (!EncodeTurn(micFrame.get(), systemFrame.get(), mixedFrame.get(), pacingStart, silenceCount)) {
      failed = true;
      break;
    }
  }
  if (failed)
    ReportFailure(FailureEncode);
  else
    DrainAfterStop();
  Trace("audio encode thread exit\n");
}

void AudioRecorder::PaceSilence(int64_t pacingStart, int& silenceCount) const {
  const float expected =
      static_cast<float>((NowMs() - pacingStart) / 1000.0) * static_cast<float>(outSampleRate) / frameSize;
  if (silenceCount >= static_cast<int>(expected)) SleepMs(1000 / (outSampleRate / frameSize));
  silenceCount += 1;
}

bool AudioRecorder::ReadMicFrame(AVFrame* micFrame) {
  std::unique_lock<std::mutex> lock(micFifoLock);
  while (av_audio_fifo_size(micFifo.get()) < frameSize) {
    Trace("audio fifo is empty, lock\n");
    if (stopRequested) {
      lock.unlock();
      micFifoSignal.notify_all();
      return false;
    }
    micFifoSignal.wait_for(lock, std::chrono::milliseconds(400));
    Trace("audio fifo is empty, unlock\n");
  }
  av_audio_fifo_read(micFifo.get(), reinterpret_cast<void**>(micFrame->data), frameSize);
  lock.unlock();
  micFifoSignal.notify_all();
  return true;
}

int AudioRecorder::SystemFifoSize() {
  std::lock_guard<std::mutex> lock(systemFifoLock);
  return systemFifo ? av_audio_fifo_size(systemFifo.get()) : 0;
}

// Reads up to one frame of system sound; whatever the FIFO cannot give stays silent. What the
// FIFO holds is always taken, whether sound is arriving or not: the FIFO then never keeps
// old sound in front of new.
void AudioRecorder::ReadSystemFrame(AVFrame* systemFrame) {
  av_samples_set_silence(systemFrame->data, 0, frameSize, outChannels,
                         static_cast<AVSampleFormat>(outSampleFormat));
  std::lock_guard<std::mutex> lock(systemFifoLock);
  if (systemFifo)
    av_audio_fifo_read(systemFifo.get(), reinterpret_cast<void**>(systemFrame->data), frameSize);
}

// The system sound alone: true when a frame is due now. A full frame in the FIFO is; while
// the device delivers, or its first sound is still awaited, the encoder waits for it; while it
// gives nothing, silence paced to the clock is due.
bool AudioRecorder::SystemFrameReady(int64_t& pacingStart, int& silenceCount) {
  if (SystemFifoSize() >= frameSize) {
    pacingStart = NowMs();
    silenceCount = 0;
    return true;
  }
  if (systemStart == SystemStartWaiting) {
    if (RecordedMs() < kFirstSoundWaitMs) {
      SleepMs(kSystemPollMs);
      return false;
    }
    // No data in time: the recording is silence from the moment it began.
    int waiting = SystemStartWaiting;
    if (systemStart.compare_exchange_strong(waiting, SystemStartClock)) {
      pacingStart = NowMs() - RecordedMs();
      silenceCount = 0;
    }
    return false;
  }
  if (systemActive) {
    SleepMs(kSystemPollMs);
    return false;
  }
  PaceSilence(pacingStart, silenceCount);
  return true;
}

bool AudioRecorder::EncodeTurn(AVFrame* micFrame, AVFrame* systemFrame, AVFrame* mixedFrame, int64_t& pacingStart,
                               int& silenceCount) {
  if (muteRecording) {
    PaceSilence(pacingStart, silenceCount);
    av_samples_set_silence(systemFrame->data, 0, frameSize, outChannels,
                           static_cast<AVSampleFormat>(outSampleFormat));
    EncodeFrame(systemFrame, "write audio frame err,ret= ");
    return true;
  }
  switch (voiceSource) {
    case SourceAll:
      if (!ReadMicFrame(micFrame)) return true;
      // The microphone sets the pace; the system sound that belongs with its frame is on its
      // way while the monitor delivers.
      while (systemActive && !stopRequested && SystemFifoSize() < frameSize) SleepMs(kSystemPollMs);
      ReadSystemFrame(systemFrame);
      return MixAndEncode(micFrame, systemFrame, mixedFrame, "write audio frame err,ret=");
    case SourceMicrophone:
      if (!micFifo) {
        LOG(ERROR) << "audio fifo is null";
        return false;
      }
      if (ReadMicFrame(micFrame)) EncodeFrame(micFrame, "write audio frame err,ret= ");
      return true;
    case SourceSystem:
      while (!SystemFrameReady(pacingStart, silenceCount))
        if (stopRequested || !running) return true;
      ReadSystemFrame(systemFrame);
      EncodeFrame(systemFrame, "write audio frame err,ret= ");
      return true;
    default:
      SleepMs(100);  // nothing to record: do not spin
      return true;
  }
}

bool AudioRecorder::MixAndEncode(AVFrame* micFrame, AVFrame* systemFrame, AVFrame* mixedFrame,
                                 const char* writeError) {
  micFrame->pts = mixPts;
  systemFrame->pts = mixPts;
  mixPts += frameSize;
  int ret = av_buffersrc_add_frame(micSource, micFrame);
  if (ret < 0) {
    lastResult = ret;
    LOG(ERROR) << "audio mic frame add  filtergraph error, ret=" << ret;
    return false;
  }
  ret = av_buffersrc_add_frame(systemSource, systemFrame);
  if (ret < 0) {
    lastResult = ret;
    LOG(ERROR) << "audio spk frame add  filtergraph error, ret=" << ret;
    return false;
  }
  for (;;) {
    ret = av_buffersink_get_frame(mixSink, mixedFrame);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return true;  // the mix wants more input first
    if (ret < 0) {
      lastResult = ret;
      LOG(ERROR) << "get audio frame from filtergraph error, ret=" << ret;
      return false;
    }
    EncodeFrame(mixedFrame, writeError);
    av_frame_unref(mixedFrame);
  }
}

// One submission per frame: the send/receive encoder keeps frames it cannot answer yet,
// so submitting a frame again would record it twice. A full encoder (EAGAIN) is emptied
// and the frame offered again, at most three times.
void AudioRecorder::EncodeFrame(AVFrame* frame, const char* writeError) {
  if (frame) {
    if (lengthLimit > 0) {
      const int64_t left = lengthLimit - submittedSamples;
      if (left <= 0) return;  // the file has the length asked for
      // The last frame is cut to the length (both encoders take a short last frame).
      if (frame->nb_samples > left) frame->nb_samples = static_cast<int>(left);
    }
    frame->pts = framePts;
    framePts += frame->nb_samples;
    submittedSamples += frame->nb_samples;
  }
  bool gotPacket = false;
  for (int times = 1; times <= 3; ++times) {
    const int sent = avcodec_send_frame(encoder.get(), frame);
    bool drained = false;
    while (avcodec_receive_packet(encoder.get(), packet.get()) == 0) {
      gotPacket = true;
      drained = true;
      WritePacket(packet.get(), writeError);
    }
    if (sent != AVERROR(EAGAIN) || !drained) {
      if (!gotPacket && frame) Trace("audio encode err,times=%d, ret=%d, got_picture=%d\n", times, lastResult, 0);
      return;
    }
  }
}

void AudioRecorder::WritePacket(AVPacket* pkt, const char* writeError) {
  const int64_t samples = pkt->duration > 0 ? pkt->duration : frameSize;
  const int64_t duration = av_rescale_q(samples, encoder->time_base, outputStream->time_base);
  const int64_t pts = nextPts;
  pkt->stream_index = 0;
  pkt->pts = pkt->dts = pts;
  pkt->duration = duration;
  nextPts += duration;
  encodedSamples += samples;
  const int ret = av_interleaved_write_frame(output.get(), pkt);
  if (ret < 0) {
    lastResult = ret;
    LOG(ERROR) << writeError << ret;
    ReportFailure(FailureWrite);
  }
  const int seconds =
      static_cast<int>(static_cast<double>(pts) * outputStream->time_base.num / outputStream->time_base.den);
  if (seconds != lastPostedSecond) {
    lastPostedSecond = seconds;
    // What is written reaches the disk about once a second, so a killed process leaves
    // a file that plays up to then.
    if (output->pb) {
      avio_flush(output->pb);
      if (output->pb->error < 0) ReportFailure(FailureWrite);
    }
    PostValue(ownerWindow, WM_RECORD_TIME, seconds);
  }
}

// After Stop: encode what the capture threads delivered up to the end (the last partial
// frame padded with silence), then empty the encoder.
void AudioRecorder::DrainAfterStop() {
  for (int waited = 0; captureThreadsRunning > 0 && waited < 3000; waited += 10) SleepMs(10);
  const auto fmt = static_cast<AVSampleFormat>(outSampleFormat);
  // Stopped before the device gave anything: the time recorded was silence.
  int waiting = SystemStartWaiting;
  if (!muteRecording && voiceSource == SourceSystem && systemStart.compare_exchange_strong(waiting, SystemStartClock))
    PutSilence(systemFifo.get(), systemFifoLock, RecordedMs() * outSampleRate / 1000);
  // A fresh frame per read: the mix graph takes over the buffers it is given.
  auto take = [&](AVAudioFifo* fifo, std::mutex& lock) {
    FramePtr frame = MakeStreamFrame(true);
    if (!frame) return frame;
    av_samples_set_silence(frame->data, 0, frameSize, outChannels, fmt);
    std::lock_guard<std::mutex> guard(lock);
    if (fifo) av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), frameSize);
    return frame;
  };
  auto size = [](AVAudioFifo* fifo, std::mutex& lock) {
    std::lock_guard<std::mutex> guard(lock);
    return fifo ? av_audio_fifo_size(fifo) : 0;
  };
  if (!muteRecording) {
    if (voiceSource == SourceAll && mixGraph) {
      while (size(micFifo.get(), micFifoLock) > 0) {
        FramePtr micFrame = take(micFifo.get(), micFifoLock);
        FramePtr systemFrame = take(systemFifo.get(), systemFifoLock);
        FramePtr mixedFrame = MakeFrame();
        if (!micFrame || !systemFrame || !mixedFrame) break;
        if (!MixAndEncode(micFrame.get(), systemFrame.get(), mixedFrame.get(), "write audio frame err,ret=")) break;
      }
    } else if (voiceSource == SourceMicrophone || voiceSource == SourceSystem) {
      AVAudioFifo* fifo = voiceSource == SourceMicrophone ? micFifo.get() : systemFifo.get();
      std::mutex& lock = voiceSource == SourceMicrophone ? micFifoLock : systemFifoLock;
      while (size(fifo, lock) > 0) {
        FramePtr frame = take(fifo, lock);
        if (!frame) break;
        EncodeFrame(frame.get(), "write audio frame err,ret= ");
      }
    }
  }
  EncodeFrame(nullptr, "write audio frame err,ret= ");
}

void AudioRecorder::FinishThread() {
  {
    std::unique_lock<std::mutex> lock(stopLock);
    stopEvent.wait(lock, [this] { return stopSignalled; });
  }
  Trace(" WaitForMultipleObjects exit\n");
  SleepMs(800);
  // The media objects are shared with these threads: free nothing before they are gone.
  if (micThread.joinable()) micThread.join();
  if (loopbackThread.joinable()) loopbackThread.join();
  if (encodeThread.joinable()) encodeThread.join();
  if (output && outputOpened) {
    // A file whose end cannot be written is a failed recording, not a finished one.
    if (av_write_trailer(output.get()) != 0) {
      LOG(ERROR) << "av_write_trailer error";
      ReportFailure(FailureWrite);
    }
    if (!(output->oformat->flags & AVFMT_NOFILE) && avio_closep(&output->pb) < 0) ReportFailure(FailureWrite);
  }
  ReleaseMedia();
  {
    std::lock_guard<std::mutex> lock(finishLock);
    finished = true;
  }
  finishSignal.notify_all();
}

// Frees every media object; a failed trailer still comes here, so nothing stays open.
void AudioRecorder::ReleaseMedia() {
  micInput.reset();
  encoder.reset();
  output.reset();  // closes the file
  outputStream = nullptr;
  outputOpened = false;
  {
    std::lock_guard<std::mutex> lock(micFifoLock);
    micFifo.reset();
  }
  {
    std::lock_guard<std::mutex> lock(systemFifoLock);
    systemFifo.reset();
  }
  systemSource = micSource = mixSink = nullptr;
  mixGraph.reset();
  micToOutputResampler.reset();
  micResampler.reset();
  packet.reset();
}

}  // namespace tw
