#include "media/AudioPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
}

namespace tw {

namespace {

constexpr int kMaxDeviceChannels = 8;  // the most SDL2's output accepts
constexpr Uint32 kEndPollMs = 20;

// Seconds of the chosen stream; the container's when the stream does not say; 0 when
// neither does.
double StreamDurationSeconds(const AVFormatContext* format, const AVStream* stream) {
  if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
    return stream->duration * av_q2d(stream->time_base);
  if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
    return static_cast<double>(format->duration) / AV_TIME_BASE;
  }
  return 0;
}

}  // namespace

double ForwardTarget(double clockSec, int seconds, double durationSec) {
  const double target = clockSec + seconds;
  return durationSec > 0 ? std::min(durationSec, target) : target;
}

double RewindTarget(double clockSec, int seconds) {
  return std::max(0.0, clockSec - seconds);
}

std::int64_t SecondsToStreamTs(double seconds, AVRational timeBase) {
  if (timeBase.num <= 0 || timeBase.den <= 0) return 0;
  return static_cast<std::int64_t>(seconds / (static_cast<double>(timeBase.num) / timeBase.den));
}

int SilenceChunkBytes(int channels) {
  const int frameBytes = std::max(1, channels) * 2;
  return std::max(frameBytes, 1024 / frameBytes * frameBytes);
}

double PositionFromClock(double clockSec, int pendingBytes, int rate, int channels) {
  if (rate <= 0 || channels <= 0) return clockSec;
  return clockSec - static_cast<double>(pendingBytes) / (static_cast<double>(rate) * channels * 2);
}

AudioPlayer::AudioPlayer() = default;

AudioPlayer::~AudioPlayer() {
  Stop();
  Release();
}

int AudioPlayer::Play(const std::string& pathUtf8) {
  if (played_) {
    std::printf("AudioPlayer::Play: this player has been used already\n");
    return -1;
  }
  played_ = true;
  playStart_ = std::chrono::steady_clock::now();
  path_ = pathUtf8;
  int rc = Open();
  if (rc == 0) rc = StartReading();
  if (rc == 0) rc = OpenDevice();
  if (rc < 0) {
    std::printf("AudioPlayer: opening \"%s\" failed (%d)\n", path_.c_str(), rc);
    // A failed player keeps no thread running.
    Stop();
    return rc;
  }
  device_.Start();
  state = PlayerState::Playing;
  deviceStarted_ = true;
  return 0;
}

int AudioPlayer::StartReading() {
  readExited_.Reset();
  try {
    readThread_ = std::thread(ReadThreadFunc, this);
  } catch (const std::system_error&) {
    std::printf("AudioPlayer: the reading thread could not start\n");
    readExited_.MarkExited();
    return -1;
  }
  // SDL runs the first callback as soon as the device starts; with a packet waiting by then
  // the first callback carries sound instead of silence and a wait for the sound server.
  std::unique_lock<std::mutex> hold(queueWaitLock_);
  primed_.wait_for(hold, kPrimeWait, [this] { return firstPacketQueued_; });
  return 0;
}

int AudioPlayer::Open() {
  duration = 0;
  clock = 0;
  endReported = false;
  paused = false;
  stopping_ = false;
  quitting_ = false;
  seeking_ = false;
  bufferIndex_ = 0;
  bufferSize_ = 0;
  streamIndex_ = -1;
  volume_ = kDefaultVolume;
  needReceive_ = true;
  pendingPacket_.reset();
  converter_.reset();
  queue_.Clear();
  firstPacketQueued_ = false;

  frame_ = MakeFrame();
  if (!frame_) return -1;
  AudioInput input;
  const AudioOpenStep step = OpenAudioInput(path_, {&AudioPlayer::InterruptCallback, this}, &input);
  if (step != AudioOpenStep::Done) {
    std::printf("%s (%d)\n", AudioOpenStepText(step), input.error);
    return -1;
  }
  format_ = std::move(input.format);
  codec_ = std::move(input.codec);
  streamIndex_ = input.streamIndex;
  timeBase_ = input.timeBase;
  duration = StreamDurationSeconds(format_.get(), format_->streams[streamIndex_]);
  deviceRate_ = codec_->sample_rate;
  deviceChannels_ = std::min(codec_->ch_layout.nb_channels, kMaxDeviceChannels);
  if (deviceRate_ <= 0 || deviceChannels_ <= 0) {
    std::printf("Audio format unknown (rate %d, channels %d).\n", deviceRate_, deviceChannels_);
    return -1;
  }
  silenceBytes_ = SilenceChunkBytes(deviceChannels_);
  converter_ = std::make_unique<S16Converter>(deviceChannels_, deviceRate_);
  return 0;
}

int AudioPlayer::OpenDevice() {
  const int sdlRc = sdl_.Init();
  if (sdlRc < 0) {
    std::printf("Window could not be created! SDL_Error: %s\n", SDL_GetError());
    return sdlRc;
  }
  // More channels than the output has would be mixed down by the sound server, which scales
  // them to full scale (a 5.1 film played about 8 dB below its own stereo mix): they are mixed
  // here instead, each sound kept at its level on its side as everywhere else.
  SDL_AudioSpec output{};
  char* outputName = nullptr;
  if (SDL_GetDefaultAudioInfo(&outputName, &output, 0) == 0) {
    SDL_free(outputName);
    if (output.channels > 0 && output.channels < deviceChannels_) {
      deviceChannels_ = output.channels;
      silenceBytes_ = SilenceChunkBytes(deviceChannels_);
      converter_ = std::make_unique<S16Converter>(deviceChannels_, deviceRate_);
    }
  }
  SDL_AudioSpec desired{};
  desired.freq = deviceRate_;
  desired.format = AUDIO_S16SYS;
  desired.channels = static_cast<Uint8>(deviceChannels_);
  desired.silence = 0;
  desired.samples = kDeviceSamples;
  desired.callback = &AudioPlayer::AudioCallback;
  desired.userdata = this;
  const int deviceRc = device_.Open(desired);
  if (deviceRc != 0) {
    std::printf("Couldn't open audio device, ret: %d\n", deviceRc);
    std::printf("%s\n", SDL_GetError());
    return -2;
  }
  state = PlayerState::Opened;
  return 0;
}

void AudioPlayer::Stop(const MessagePump& pump) {
  stopping_ = true;
  quitting_ = true;
  WakeReader();
  if (readThread_.joinable()) {
    WaitForExit({&readExited_}, pump,
                {"AudioPlayer Decode Thread MsgWaitForMultipleObjects Exit",
                 "AudioPlayer Decode Thread THREAD EXIT:"});
    readThread_.join();
  }
  device_.Close();
}

void AudioPlayer::Release() {
  // Nothing the reading thread or the callback uses may go while they run.
  if (readThread_.joinable()) Stop();
  device_.Close();
  queue_.Clear();
  pendingPacket_.reset();
  format_.reset();
  frame_.reset();
  converter_.reset();
  codec_.reset();
  sdl_.Quit();
  path_.clear();
}

void AudioPlayer::TogglePause() {
  PlayerState expected = PlayerState::Paused;
  if (state.compare_exchange_strong(expected, PlayerState::Playing)) {
    paused = false;
    return;
  }
  expected = PlayerState::Playing;
  if (state.compare_exchange_strong(expected, PlayerState::Paused)) paused = true;
}

void AudioPlayer::SeekTo(double seconds) {
  std::printf("pos: %f\n", seconds);
  SeekStream(seconds, false);
}

void AudioPlayer::Forward(int seconds) {
  SeekStream(ForwardTarget(clock, seconds, duration), true);
}

void AudioPlayer::Rewind(int seconds) {
  SeekStream(RewindTarget(clock, seconds), true);
}

void AudioPlayer::SeekStream(double seconds, bool flushDecoder) {
  if (!format_ || streamIndex_ < 0) return;
  seeking_ = true;
  {
    std::lock_guard<std::mutex> io(ioLock_);
    const std::int64_t ts = SecondsToStreamTs(seconds, timeBase_);
    if (!flushDecoder) std::printf("pts: %lld\n", static_cast<long long>(ts));
    av_seek_frame(format_.get(), streamIndex_, ts, AVSEEK_FLAG_ANY);
    queue_.Clear();
    ++seekGeneration_;
    if (flushDecoder) {
      // The callback may be inside the decoder right now; SDL's lock waits it out.
      SdlAudioLock quiet(device_);
      avcodec_flush_buffers(codec_.get());
      pendingPacket_.reset();
      needReceive_ = true;
    }
  }
  seeking_ = false;
}

void AudioPlayer::SetVolume(int volume) {
  volume_ = volume;
}

void AudioPlayer::SetEndCallback(EndCallback callback, void* userData) {
  endCallback_ = std::move(callback);
  endUserData_ = userData;
}

double AudioPlayer::GetPosition() const {
  const int pending = std::max(0, bufferSize_.load() - bufferIndex_.load());
  return PositionFromClock(clock, pending, deviceRate_, deviceChannels_);
}

double AudioPlayer::MsToFirstSound() const {
  const std::int64_t ns = firstSoundNs_;
  return ns < 0 ? -1.0 : ns / 1e6;
}

int AudioPlayer::InterruptCallback(void* opaque) {
  return static_cast<AudioPlayer*>(opaque)->quitting_ ? 1 : 0;
}

void AudioPlayer::ReadThreadFunc(AudioPlayer* player) {
  player->ReadLoop();
  player->MarkPrimed();
  player->readExited_.MarkExited();
  std::printf("video_read_thread exit....\n");
}

void AudioPlayer::MarkPrimed() {
  {
    std::lock_guard<std::mutex> hold(queueWaitLock_);
    if (firstPacketQueued_) return;
    firstPacketQueued_ = true;
  }
  primed_.notify_all();
}

void AudioPlayer::WakeReader() {
  { std::lock_guard<std::mutex> hold(queueWaitLock_); }
  queueNotFull_.notify_all();
}

void AudioPlayer::ReadLoop() {
  while (!quitting_) {
    {
      std::unique_lock<std::mutex> hold(queueWaitLock_);
      queueNotFull_.wait(hold, [this] { return quitting_ || queue_.Size() < kQueueHighMark; });
    }
    if (quitting_) break;
    PacketPtr packet = MakePacket();
    if (!packet) break;
    int rc;
    std::uint64_t generation;
    {
      std::lock_guard<std::mutex> io(ioLock_);
      rc = av_read_frame(format_.get(), packet.get());
      generation = seekGeneration_;
    }
    if (rc < 0) {
      if (format_->pb && format_->pb->error) break;
      // End of file. Keep polling so that a seek back resumes reading; report the end once
      // the decoder has taken every packet, unless a seek came between (and never for a
      // player whose device did not start: its Play failed). A paused player put at the end
      // has not played to it: its end comes when it plays again.
      bool report = false;
      {
        std::lock_guard<std::mutex> io(ioLock_);
        if (deviceStarted_ && !paused && generation == seekGeneration_ && queue_.Empty() && !endReported) {
          endReported = true;
          report = true;
        }
      }
      MarkPrimed();  // nothing to wait for: an empty file or an end reached at once
      if (report && endCallbackEnabled && endCallback_) endCallback_(endUserData_);
      SDL_Delay(kEndPollMs);
      continue;
    }
    if (packet->stream_index == streamIndex_) {
      queue_.Push(std::move(packet));
      MarkPrimed();
    }
  }
}

void AudioPlayer::AudioCallback(void* userData, Uint8* stream, int len) {
  static_cast<AudioPlayer*>(userData)->FillDevice(stream, len);
}

void AudioPlayer::FillDevice(Uint8* stream, int len) {
  SDL_memset(stream, 0, static_cast<size_t>(len));
  if (const double at = pauseAt; at >= 0 && GetPosition() > at) {
    PlayerState expected = PlayerState::Playing;
    if (state.compare_exchange_strong(expected, PlayerState::Paused)) {
      paused = true;
      pausedAtMark = true;
    }
    pauseAt = -1;
  }
  while (len > 0 && !quitting_ && !seeking_ && !stopping_) {
    if (bufferIndex_ >= bufferSize_) {
      const int n = DecodeChunk();
      if (n < 0) {
        std::memset(pcm_.data(), 0, static_cast<size_t>(silenceBytes_));
        bufferSize_ = silenceBytes_;
      } else {
        bufferSize_ = n;
        if (n > 0 && firstSoundNs_ < 0) {
          firstSoundNs_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::steady_clock::now() - playStart_)
                              .count();
        }
      }
      bufferIndex_ = 0;
    }
    const int index = bufferIndex_;
    const int count = std::min(len, bufferSize_ - index);
    SDL_MixAudio(stream, pcm_.data() + index, static_cast<Uint32>(count), volume_);
    stream += count;
    len -= count;
    bufferIndex_ = index + count;
  }
}

int AudioPlayer::DecodeChunk() {
  if (paused) return -1;
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
    PacketPtr packet;
    if (pendingPacket_) {
      packet = std::move(pendingPacket_);
    } else {
      if (queue_.Size() < kQueueLowMark) WakeReader();
      packet = queue_.Pop();
      if (!packet) return -1;
    }
    if (avcodec_send_packet(codec_.get(), packet.get()) == AVERROR(EAGAIN)) {
      pendingPacket_ = std::move(packet);
      std::printf("send decode packet error\n");
    }
    needReceive_ = true;
  }
}

int AudioPlayer::ConvertFrame() {
  AVFrame* frame = frame_.get();
  if (frame->pts != AV_NOPTS_VALUE && frame->sample_rate > 0) {
    const double t = frame->pts * av_q2d(timeBase_);
    if (std::isfinite(t) && t > 0) clock = t + static_cast<double>(frame->nb_samples) / frame->sample_rate;
  }
  const int frameBytes = deviceChannels_ * 2;
  const int converted = converter_->Convert(frame, codec_.get(), pcm_.data(), kPcmBufferBytes / frameBytes);
  return converted < 0 ? -1 : converted * frameBytes;
}

}  // namespace tw
