#include "media/PcmWave.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <system_error>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
}

#include "app/Messages.h"

namespace tw {

namespace {

void RepairChannelLayout(AVFrame* frame, const AVCodecContext* codec) {
  if (frame->ch_layout.nb_channels > 0 && frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    const int count = frame->ch_layout.nb_channels;
    av_channel_layout_uninit(&frame->ch_layout);
    av_channel_layout_default(&frame->ch_layout, count);
  } else if (frame->ch_layout.nb_channels <= 0 && codec->ch_layout.nb_channels > 0) {
    av_channel_layout_uninit(&frame->ch_layout);
    av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout);
  }
}

}  // namespace

PcmWave::PcmWave(MessageSink* sink) : sink_(sink) {}

PcmWave::~PcmWave() {
  Release();
  av_channel_layout_uninit(&resamplerInLayout_);
  path_.clear();
}

int PcmWave::InterruptCallback(void* opaque) {
  return static_cast<PcmWave*>(opaque)->stop_ ? 1 : 0;
}

int PcmWave::Open(const std::string& pathUtf8) {
  if (opened_) return -1;
  opened_ = true;
  path_ = pathUtf8;
  if (OpenMedia() != 0) {
    Release();
    return -1;
  }
  readExited_.Reset();
  decodeExited_.Reset();
  try {
    readThread_ = std::thread([this] { ReadLoop(); });
    decodeThread_ = std::thread([this] { DecodeLoop(); });
  } catch (const std::system_error&) {
    std::printf("PcmWave: a thread could not start\n");
    {
      std::lock_guard<std::mutex> hold(postLock_);
      postEnabled_ = false;
    }
    if (!readThread_.joinable()) readExited_.MarkExited();
    decodeExited_.MarkExited();
    Release();
    return -1;
  }
  return 0;
}

int PcmWave::OpenMedia() {
  frame_ = MakeFrame();
  if (!frame_) return -1;
  int openRc = 0;
  format_ = OpenInput(path_, {&PcmWave::InterruptCallback, this}, &openRc);
  if (!format_) {
    std::printf("avformat_open_input err: %d\n", openRc);
    return -1;
  }
  if (avformat_find_stream_info(format_.get(), nullptr) < 0) {
    std::printf("avformat_find_stream_info err.\n");
    return -1;
  }
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    const AVStream* candidate = format_->streams[i];
    if (candidate->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    streamIndex_ = static_cast<int>(i);
    duration_ = WaveDurationSeconds(candidate->duration, candidate->time_base.num, candidate->time_base.den,
                                    format_->duration);
  }
  if (streamIndex_ < 0) {
    std::printf("Didn't find a audio stream.\n");
    return -1;
  }
  const AVStream* stream = format_->streams[streamIndex_];
  timeBase_ = stream->time_base;
  const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!decoder) {
    std::printf("Audio Codec not found.\n");
    return -1;
  }
  codec_.reset(avcodec_alloc_context3(decoder));
  if (!codec_) {
    std::printf("avcodec_alloc_context3 err\n");
    return -1;
  }
  if (avcodec_parameters_to_context(codec_.get(), stream->codecpar) < 0) return -1;
  codec_->pkt_timebase = stream->time_base;
  if (avcodec_open2(codec_.get(), decoder, nullptr) < 0) {
    std::printf("avcodec_open2 err.\n");
    return -1;
  }
  strideBytes_ = WaveStrideBytes(duration_);
  return 0;
}

void PcmWave::Abort() {
  std::lock_guard<std::mutex> hold(postLock_);
  stop_ = true;
  postEnabled_ = false;
}

void PcmWave::WakeReader() {
  { std::lock_guard<std::mutex> hold(queueWaitLock_); }
  queueNotFull_.notify_all();
}

void PcmWave::WaitForExit(const MessagePump& pump) {
  if (!readThread_.joinable() && !decodeThread_.joinable()) return;
  tw::WaitForExit({&readExited_, &decodeExited_}, pump,
                  {"PcmWave MsgWaitForMultipleObjects Exit", "PcmWave THREAD EXIT:"});
  if (readThread_.joinable()) readThread_.join();
  if (decodeThread_.joinable()) decodeThread_.join();
}

void PcmWave::Join() {
  if (readThread_.joinable()) readThread_.join();
  if (decodeThread_.joinable()) decodeThread_.join();
}

void PcmWave::Release() {
  if (readThread_.joinable() || decodeThread_.joinable()) {
    Abort();
    WakeReader();
    WaitForExit();
  }
  done_ = false;
  queue_.Clear();
  std::vector<std::int32_t>().swap(peaks_);
  pendingPacket_.reset();
  frame_.reset();
  format_.reset();
  codec_.reset();
  resampler_.reset();
}

void PcmWave::ReadLoop() {
  while (!stop_) {
    {
      std::unique_lock<std::mutex> hold(queueWaitLock_);
      queueNotFull_.wait(hold, [this] { return stop_ || queue_.Size() < kQueueHighMark; });
    }
    if (stop_) break;
    PacketPtr packet = MakePacket();
    const int rc = packet ? av_read_frame(format_.get(), packet.get()) : AVERROR(ENOMEM);
    if (rc < 0) {
      if (rc == AVERROR_EOF) {
        std::printf("PcmWave: read complete\n");
      } else {
        std::printf("PcmWave: read error %d\n", rc);
      }
      endOfInput_ = true;
      break;
    }
    if (packet->stream_index == streamIndex_) queue_.Push(std::move(packet));
  }
  // The decoding thread finishes on this flag even when the loop ended on stop.
  endOfInput_ = true;
  readExited_.MarkExited();
  std::printf("PcmWave read_thread_exit ....\n");
}

void PcmWave::DecodeLoop() {
  PeakPicker picker(strideBytes_);
  while (!stop_) {
    const int n = DecodeChunk();
    if (n > 0) {
      picker.Feed(reinterpret_cast<const std::int16_t*>(pcm_.data()), static_cast<std::size_t>(n) / 2);
    } else if (endOfInput_ && queue_.Empty() && !pendingPacket_) {
      break;
    }
  }
  if (!stop_) {
    peaks_ = picker.Finish();
    std::lock_guard<std::mutex> hold(postLock_);
    if (postEnabled_) {
      done_.store(true, std::memory_order_release);
      PostValue(sink_, WM_LOADING_HIDE, 0);
    }
  }
  decodeExited_.MarkExited();
  std::printf("PcmWave decode_thread_exit ....\n");
}

int PcmWave::DecodeChunk() {
  if (stop_) return 0;
  for (;;) {
    if (needReceive_) {
      const int rc = avcodec_receive_frame(codec_.get(), frame_.get());
      if (rc == AVERROR_EOF) {
        avcodec_flush_buffers(codec_.get());
        return -1;
      }
      if (rc == 0) return ConvertFrame();
      if (rc == AVERROR(EAGAIN)) needReceive_ = false;
    }
    PacketPtr packet = pendingPacket_ ? std::move(pendingPacket_) : queue_.Pop();
    if (!packet) {
      WakeReader();
      return -1;
    }
    if (avcodec_send_packet(codec_.get(), packet.get()) == AVERROR(EAGAIN)) {
      pendingPacket_ = std::move(packet);
      std::printf("send decode packet error\n");
    }
    needReceive_ = true;
    if (stop_) return 0;
  }
}

void PcmWave::PostProgress(double frameSeconds) {
  if (duration_ <= 0 || !std::isfinite(frameSeconds) || frameSeconds <= 0) return;
  const double ratio = std::min(1.0, frameSeconds / duration_);
  const int percent = static_cast<int>(ratio * 100);
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  std::lock_guard<std::mutex> hold(postLock_);
  if (postEnabled_) PostValue(sink_, WM_LOADING_SHOW, percent);
}

int PcmWave::ConvertFrame() {
  AVFrame* frame = frame_.get();
  RepairChannelLayout(frame, codec_.get());
  if (frame->pts != AV_NOPTS_VALUE) PostProgress(frame->pts * av_q2d(timeBase_));
  if (frame->sample_rate <= 0 || frame->ch_layout.nb_channels <= 0) return -1;

  const bool sameInput = resampler_ && resamplerInFormat_ == frame->format &&
                         resamplerInRate_ == frame->sample_rate &&
                         av_channel_layout_compare(&resamplerInLayout_, &frame->ch_layout) == 0;
  if (!sameInput) {
    resampler_.reset();
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    SwrContext* swr = nullptr;
    const int rc =
        swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_S16, kWaveSampleRate, &frame->ch_layout,
                            static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    resampler_.reset(swr);
    // A shorter low-pass than the default: at 44.1 kHz -> 8 kHz the default filter costs as much
    // as a third of the decoding, and the values only feed a drawing.
    if (swr) av_opt_set_int(swr, "filter_size", kWaveFilterSize, 0);
    if (rc < 0 || !swr || swr_init(swr) < 0) {
      resampler_.reset();
      std::printf("swr set open or swr init error\n");
      return -1;
    }
    av_channel_layout_uninit(&resamplerInLayout_);
    av_channel_layout_copy(&resamplerInLayout_, &frame->ch_layout);
    resamplerInFormat_ = frame->format;
    resamplerInRate_ = frame->sample_rate;
  }
  // Counted in output samples, so the bound holds for input rates below 8000 Hz too.
  const std::int64_t wanted =
      av_rescale_rnd(swr_get_delay(resampler_.get(), frame->sample_rate) + frame->nb_samples, kWaveSampleRate,
                     frame->sample_rate, AV_ROUND_UP);
  const int outCount = static_cast<int>(std::min<std::int64_t>(wanted, kPcmBufferBytes / 2));
  std::uint8_t* out[1] = {pcm_.data()};
  const int converted =
      swr_convert(resampler_.get(), out, outCount, const_cast<const std::uint8_t**>(frame->extended_data),
                  frame->nb_samples);
  av_frame_unref(frame);
  if (converted < 0) return -1;
  return converted * 2;
}

int ReplaceWaveReader(std::unique_ptr<PcmWave>& reader, MessageSink* sink, const std::string& pathUtf8,
                      const MessagePump& pump) {
  // Taken out first: the pump may run the owner's handlers, which must not find a reader
  // that is being torn down.
  std::unique_ptr<PcmWave> old = std::move(reader);
  if (old && old->Opened()) {
    old->Abort();
    old->WakeReader();
    old->WaitForExit(pump);
    old->Release();
  }
  old.reset();
  reader = std::make_unique<PcmWave>(sink);
  return reader->Open(pathUtf8);
}

int ReadWavePeaks(const std::string& pathUtf8, std::vector<std::int32_t>* peaks, MessageSink* sink,
                  double* durationSec) {
  PcmWave wave(sink);
  if (wave.Open(pathUtf8) != 0) return -1;
  wave.Join();
  if (!wave.Done()) return -1;
  if (peaks) *peaks = wave.Peaks();
  if (durationSec) *durationSec = wave.Duration();
  return 0;
}

}  // namespace tw
