#include "media/PcmWave.h"

#include <sched.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <numeric>
#include <system_error>

extern "C" {
#include <libavutil/mathematics.h>
}

#include "app/Messages.h"

namespace tw {

namespace {

constexpr std::uint64_t kToTheEnd = std::numeric_limits<std::uint64_t>::max();
// The decoder wakes its reader once the queue has drained below this.
constexpr std::size_t kQueueLowMark = 50;
// The second half is sought this much before its first sample, so that its decoder is primed.
constexpr double kSeekLeadSec = 1.0;

}  // namespace

// One stretch of the file read by its own opening, reading thread and decoding thread.
// Positions are those of the 8 kHz samples from the start of the sound.
struct PcmWave::Part {
  int index = 0;
  AudioInput input;
  PacketQueue queue;
  FramePtr frame;
  std::unique_ptr<S16Converter> converter;
  PacketPtr pendingPacket;  // refused by the decoder with EAGAIN; sent again first
  bool needReceive = false;
  bool drained = false;  // the decoder has been told the input ended
  std::mutex waitLock;
  std::condition_variable notFull;   // the reader waits for room
  std::condition_variable notEmpty;  // the decoder waits for a packet or the end of the input
  std::atomic<bool> endOfInput{false};
  std::atomic<bool> finished{false};  // the part is complete: its reader stops too
  ExitFlag readExited;
  ExitFlag decodeExited;
  std::thread readThread;
  std::thread decodeThread;
  std::uint64_t from = 0;                    // the first position this part keeps
  std::atomic<std::uint64_t> to{kToTheEnd};  // the first position it leaves to the next part
  bool placed = false;                       // position holds
  std::int64_t position = 0;                 // of the next converted sample
  double framePtsSec = std::nan("");         // of the frame just converted
  double originSec = 0;                      // the time of position 0, once placed
  HoleFiller holes;                          // silence for holes in the sound's timestamps
  std::atomic<double> reachedSec{0};         // seconds of its stretch decoded, for the progress
  std::optional<PeakPicker> picker;          // made at the first sample kept
  alignas(16) std::array<std::uint8_t, kPcmBufferBytes> pcm{};  // holds int16 samples
};

int UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

PcmWave::PcmWave(MessageSink* sink, WaveReadOptions options) : sink_(sink), options_(options) {}

PcmWave::~PcmWave() {
  Release();
  path_.clear();
}

int PcmWave::InterruptCallback(void* opaque) {
  return static_cast<PcmWave*>(opaque)->stop_ ? 1 : 0;
}

bool PcmWave::ReadThreadExited() const {
  for (const auto& part : parts_)
    if (!part->readExited.Exited()) return false;
  return true;
}

bool PcmWave::DecodeThreadExited() const {
  for (const auto& part : parts_)
    if (!part->decodeExited.Exited()) return false;
  return true;
}

int PcmWave::Open(const std::string& pathUtf8) {
  if (opened_) return -1;
  opened_ = true;
  path_ = pathUtf8;
  if (OpenMedia() != 0 || StartThreads() != 0) {
    Release();  // no parts are left: every thread counts as ended
    return -1;
  }
  return 0;
}

int PcmWave::OpenMedia() {
  auto part = std::make_unique<Part>();
  AudioInput& input = part->input;
  if (const AudioOpenStep step = OpenAudioInput(path_, {&PcmWave::InterruptCallback, this}, &input);
      step != AudioOpenStep::Done) {
    std::printf("%s (%d)\n", AudioOpenStepText(step), input.error);
    return -1;
  }
  const AVStream* stream = input.Stream();
  streamIndex_ = input.streamIndex;
  duration_ = WaveDurationSeconds(stream->duration, stream->time_base.num, stream->time_base.den,
                                  input.format->duration);
  strideBytes_ = WaveStrideBytes(duration_);
  parts_.push_back(std::move(part));
  if (options_.maxParts >= 2 && UsableCores() >= 2 && duration_ >= kSplitMinSeconds && strideBytes_ > 0 &&
      parts_[0]->input.Seekable() && !OpenSecondHalf()) {
    std::printf("PcmWave: reading in one part\n");
  }
  for (auto& p : parts_) {
    p->frame = MakeFrame();
    p->converter = std::make_unique<S16Converter>(1, kWaveSampleRate, options_.filterSize);
    if (!p->frame) return -1;
  }
  return 0;
}

bool PcmWave::OpenSecondHalf() {
  auto part = std::make_unique<Part>();
  part->index = 1;
  if (OpenAudioInput(path_, {&PcmWave::InterruptCallback, this}, &part->input) != AudioOpenStep::Done ||
      part->input.streamIndex != streamIndex_)
    return false;
  // The halves meet at a bucket's edge, so that no bucket is shared.
  const auto bucket = static_cast<std::uint64_t>(strideBytes_ / 2 + 1);
  const auto total = static_cast<std::uint64_t>(duration_ * kWaveSampleRate);
  const std::uint64_t split = total / 2 / bucket * bucket;
  const AVStream* stream = part->input.Stream();
  const double seekSec = std::max(0.0, static_cast<double>(split) / kWaveSampleRate - kSeekLeadSec);
  std::int64_t ts = static_cast<std::int64_t>(seekSec / av_q2d(stream->time_base));
  if (stream->start_time != AV_NOPTS_VALUE) ts += stream->start_time;
  if (av_seek_frame(part->input.format.get(), streamIndex_, ts, AVSEEK_FLAG_BACKWARD) < 0) return false;
  part->from = split;
  parts_[0]->to = split;
  parts_.push_back(std::move(part));
  return true;
}

int PcmWave::StartThreads() {
  partsLeft_ = static_cast<int>(parts_.size());
  for (auto& p : parts_) {
    Part* part = p.get();
    part->readExited.Reset();
    part->decodeExited.Reset();
    try {
      part->readThread = std::thread([this, part] { ReadLoop(*part); });
    } catch (const std::system_error&) {
      part->readExited.MarkExited();
      part->decodeExited.MarkExited();
      std::printf("PcmWave: a thread could not start\n");
      return -1;
    }
    try {
      part->decodeThread = std::thread([this, part] { DecodeLoop(*part); });
    } catch (const std::system_error&) {
      part->decodeExited.MarkExited();
      std::printf("PcmWave: a thread could not start\n");
      return -1;
    }
  }
  return 0;
}

void PcmWave::Abort() {
  {
    std::lock_guard<std::mutex> hold(postLock_);
    stop_ = true;
    postEnabled_ = false;
  }
  { std::lock_guard<std::mutex> hold(handshakeLock_); }
  handshake_.notify_all();
  for (auto& part : parts_) {
    { std::lock_guard<std::mutex> hold(part->waitLock); }
    part->notEmpty.notify_all();
  }
}

void PcmWave::WakeReader() {
  for (auto& part : parts_) {
    { std::lock_guard<std::mutex> hold(part->waitLock); }
    part->notFull.notify_all();
  }
}

void PcmWave::WaitForExit(const MessagePump& pump) {
  std::vector<const ExitFlag*> flags;
  bool running = false;
  for (auto& part : parts_) {
    flags.push_back(&part->readExited);
    flags.push_back(&part->decodeExited);
    running |= part->readThread.joinable() || part->decodeThread.joinable();
  }
  if (!running) return;
  tw::WaitForExit(flags, pump, {"PcmWave MsgWaitForMultipleObjects Exit", "PcmWave THREAD EXIT:"});
  Join();
}

void PcmWave::Join() {
  for (auto& part : parts_) {
    if (part->readThread.joinable()) part->readThread.join();
    if (part->decodeThread.joinable()) part->decodeThread.join();
  }
}

void PcmWave::Release() {
  bool running = false;
  for (auto& part : parts_) running |= part->readThread.joinable() || part->decodeThread.joinable();
  if (running) {
    Abort();
    WakeReader();
    WaitForExit();
  }
  Join();  // threads that could not all start
  done_ = false;
  parts_.clear();
  std::vector<std::int32_t>().swap(peaks_);
  envelope_ = WaveEnvelope{};
}

void PcmWave::ReadLoop(Part& part) {
  AVFormatContext* format = part.input.format.get();
  while (!stop_ && !part.finished) {
    {
      std::unique_lock<std::mutex> hold(part.waitLock);
      part.notFull.wait(hold, [&] { return stop_ || part.finished || part.queue.Size() < kQueueHighMark; });
    }
    if (stop_ || part.finished) break;
    PacketPtr packet = MakePacket();
    const int rc = packet ? av_read_frame(format, packet.get()) : AVERROR(ENOMEM);
    if (rc < 0) {
      if (rc == AVERROR_EOF) {
        std::printf("PcmWave: read complete\n");
      } else {
        std::printf("PcmWave: read error %d\n", rc);
      }
      break;
    }
    if (packet->stream_index != streamIndex_) continue;
    part.queue.Push(std::move(packet));
    { std::lock_guard<std::mutex> hold(part.waitLock); }
    part.notEmpty.notify_one();
  }
  // The decoding thread finishes on this flag even when the loop ended on stop.
  {
    std::lock_guard<std::mutex> hold(part.waitLock);
    part.endOfInput = true;
  }
  part.notEmpty.notify_all();
  part.readExited.MarkExited();
  std::printf("PcmWave read_thread_exit ....\n");
}

int PcmWave::DecodeChunk(Part& part) {
  AVCodecContext* codec = part.input.codec.get();
  for (;;) {
    if (stop_) return -1;
    if (part.needReceive) {
      const int rc = avcodec_receive_frame(codec, part.frame.get());
      if (rc == AVERROR_EOF) return -1;  // drained: everything the decoder held is out
      if (rc == 0) {
        AVFrame* frame = part.frame.get();
        part.framePtsSec =
            frame->pts == AV_NOPTS_VALUE ? std::nan("") : frame->pts * av_q2d(part.input.timeBase);
        if (std::isfinite(part.framePtsSec)) {
          const double start = part.index == 0 ? 0.0 : static_cast<double>(part.from) / kWaveSampleRate;
          const double reached = std::max(0.0, part.framePtsSec - start);
          if (reached > part.reachedSec) part.reachedSec = reached;
          PostProgress();
        }
        int skip = 0;
        if (!part.placed) {
          const Placement placement = PlacePart(part, frame, &skip);
          if (placement != Placement::Placed) av_frame_unref(frame);
          if (placement == Placement::Failed) return -1;
          if (placement == Placement::NextFrame) continue;
        } else if (std::isfinite(part.framePtsSec) && !FillHole(part)) {
          av_frame_unref(frame);
          return -1;  // the part's stretch ended in the hole
        }
        part.holes.Heard(frame->nb_samples, frame->sample_rate);
        const int converted =
            part.converter->Convert(frame, codec, part.pcm.data(), kPcmBufferBytes / 2, skip);
        return std::max(0, converted);
      }
      if (rc == AVERROR(EAGAIN)) part.needReceive = false;
    }
    PacketPtr packet = part.pendingPacket ? std::move(part.pendingPacket) : part.queue.Pop();
    if (!packet) {
      std::unique_lock<std::mutex> hold(part.waitLock);
      part.notFull.notify_all();
      if (part.endOfInput && part.queue.Empty()) {
        hold.unlock();
        if (part.drained) return -1;
        // The frames the decoder still holds come out after an empty packet.
        avcodec_send_packet(codec, nullptr);
        part.drained = true;
        part.needReceive = true;
        continue;
      }
      // Nothing to decode yet: sleep until the reader brings a packet or the input ends.
      part.notEmpty.wait(hold, [&] { return stop_ || part.endOfInput || !part.queue.Empty(); });
      continue;
    }
    if (part.queue.Size() < kQueueLowMark) {
      { std::lock_guard<std::mutex> hold(part.waitLock); }
      part.notFull.notify_all();
    }
    if (avcodec_send_packet(codec, packet.get()) == AVERROR(EAGAIN)) {
      part.pendingPacket = std::move(packet);
      std::printf("send decode packet error\n");
    }
    part.needReceive = true;
  }
}

PcmWave::Placement PcmWave::PlacePart(Part& part, const AVFrame* frame, int* skipFrames) {
  std::unique_lock<std::mutex> hold(handshakeLock_);
  if (part.index == 0) {
    part.position = 0;
    part.placed = true;
    basePtsSec_ = std::isfinite(part.framePtsSec) ? part.framePtsSec : 0.0;
    part.originSec = *basePtsSec_;
    hold.unlock();
    handshake_.notify_all();
    return Placement::Placed;
  }
  // The second half counts its samples from the same origin as the first.
  handshake_.wait(hold, [&] { return stop_ || basePtsSec_.has_value(); });
  if (stop_) return Placement::Failed;
  const int rate = frame->sample_rate;
  if (!std::isfinite(part.framePtsSec) || rate <= 0) {
    secondHalf_ = HalfState::Failed;
    parts_[0]->to = kToTheEnd;
    hold.unlock();
    handshake_.notify_all();
    return Placement::Failed;
  }
  // Its resampler starts on an input sample that falls on the first half's 8 kHz grid, so
  // that both halves make the same samples where they meet.
  const std::int64_t grid = rate / std::gcd(rate, kWaveSampleRate);
  const std::int64_t first = std::llround((part.framePtsSec - *basePtsSec_) * rate);
  const std::int64_t skip = ((-first) % grid + grid) % grid;
  if (skip >= frame->nb_samples) return Placement::NextFrame;
  *skipFrames = static_cast<int>(skip);
  part.originSec = *basePtsSec_;
  part.position = (first + skip) / grid * (kWaveSampleRate / std::gcd(rate, kWaveSampleRate));
  part.placed = true;
  if (part.position > static_cast<std::int64_t>(part.from)) {
    // It starts later than asked: the first half reads on to meet it.
    part.from = static_cast<std::uint64_t>(part.position);
    parts_[0]->to = part.from;
  }
  secondHalf_ = HalfState::Placed;
  hold.unlock();
  handshake_.notify_all();
  return Placement::Placed;
}

bool PcmWave::FillHole(Part& part) {
  const std::int64_t at = std::llround((part.framePtsSec - part.originSec) * kWaveSampleRate);
  std::int64_t hole = at > part.position ? part.holes.Fill(at - part.position, kWaveSampleRate) : 0;
  for (std::int64_t n; hole > 0; hole -= n) {
    n = std::min<std::int64_t>(hole, kPcmBufferBytes / 2);
    std::memset(part.pcm.data(), 0, static_cast<std::size_t>(n) * 2);
    if (!TakeSamples(part, static_cast<int>(n))) return false;
  }
  return true;
}

bool PcmWave::TakeSamples(Part& part, int count) {
  const std::int64_t begin = part.position;
  const std::int64_t end = begin + count;
  const auto bound = [&] {
    const std::uint64_t to = part.to;
    return to > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(to);
  };
  if (part.index == 0 && parts_.size() > 1 && end > bound()) {
    // The bound may still move: wait until the second half knows where it starts.
    std::unique_lock<std::mutex> hold(handshakeLock_);
    handshake_.wait(hold, [&] { return stop_ || secondHalf_ != HalfState::Undecided; });
  }
  const std::int64_t to = bound();
  const std::int64_t keepFrom = std::max(begin, static_cast<std::int64_t>(part.from));
  const std::int64_t keepTo = std::min(end, to);
  if (keepFrom < keepTo) {
    if (!part.picker) part.picker.emplace(strideBytes_, static_cast<std::uint64_t>(keepFrom));
    const auto* samples = reinterpret_cast<const std::int16_t*>(part.pcm.data());
    part.picker->Feed(samples + (keepFrom - begin), static_cast<std::size_t>(keepTo - keepFrom));
  }
  part.position = end;
  return end < to;
}

void PcmWave::DecodeLoop(Part& part) {
  bool atItsEnd = false;
  while (!stop_) {
    const int n = DecodeChunk(part);
    if (n < 0) break;
    if (n > 0 && !TakeSamples(part, n)) {
      atItsEnd = true;
      break;
    }
  }
  // The part that reads to the end of the sound also takes what the resampler still holds.
  if (!stop_ && !atItsEnd && part.placed && part.to == kToTheEnd) {
    const int n = part.converter->Drain(part.pcm.data(), kPcmBufferBytes / 2);
    if (n > 0) TakeSamples(part, n);
  }
  part.finished = true;
  { std::lock_guard<std::mutex> hold(part.waitLock); }
  part.notFull.notify_all();
  {
    // A half that ends before it could be placed leaves the whole file to the first.
    std::lock_guard<std::mutex> hold(handshakeLock_);
    if (part.index == 0 && !basePtsSec_) basePtsSec_ = 0.0;
    if (part.index == 1 && secondHalf_ == HalfState::Undecided) {
      secondHalf_ = HalfState::Failed;
      parts_[0]->to = kToTheEnd;
    }
  }
  handshake_.notify_all();
  FinishPart();
  part.decodeExited.MarkExited();
  std::printf("PcmWave decode_thread_exit ....\n");
}

void PcmWave::FinishPart() {
  if (partsLeft_.fetch_sub(1) != 1 || stop_) return;
  std::optional<PeakPicker> joined;
  for (auto& part : parts_) {
    if (!part->picker) continue;
    if (!joined)
      joined = std::move(part->picker);
    else
      joined->Append(std::move(*part->picker));
  }
  peaks_ = joined ? joined->Finish(&envelope_) : std::vector<std::int32_t>{};
  {
    // Sample 0 is the first frame's: on the file's own clock, as the player's positions are.
    std::lock_guard<std::mutex> hold(handshakeLock_);
    envelope_.startSec += basePtsSec_.value_or(0.0);
  }
  std::lock_guard<std::mutex> hold(postLock_);
  if (postEnabled_) {
    done_.store(true, std::memory_order_release);
    PostValue(sink_, WM_LOADING_HIDE, 0);
  }
}

void PcmWave::PostProgress() {
  if (duration_ <= 0) return;
  const auto percentNow = [this] {
    double reached = 0;
    for (const auto& part : parts_) reached += part->reachedSec;
    return static_cast<int>(std::min(1.0, reached / duration_) * 100);
  };
  // Most frames leave the percent as it is: they need not meet at the lock.
  if (percentNow() <= lastPercent_.load(std::memory_order_relaxed)) return;
  std::lock_guard<std::mutex> hold(postLock_);
  const int percent = percentNow();
  if (percent <= lastPercent_) return;
  lastPercent_ = percent;
  if (postEnabled_) PostValue(sink_, WM_LOADING_SHOW, percent);
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
                  double* durationSec, WaveReadOptions options, WaveEnvelope* envelope) {
  PcmWave wave(sink, options);
  if (wave.Open(pathUtf8) != 0) return -1;
  wave.Join();
  if (!wave.Done()) return -1;
  if (peaks) *peaks = wave.Peaks();
  if (durationSec) *durationSec = wave.Duration();
  if (envelope) *envelope = wave.Envelope();
  return 0;
}

}  // namespace tw
