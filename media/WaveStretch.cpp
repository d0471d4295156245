#include "media/WaveStretch.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <vector>

extern "C" {
#include <libavutil/mathematics.h>
}

#include "app/Messages.h"

namespace tw {

namespace {

// How far before the stretch a seek lands, tried in turn: the decoder is primed by the time
// the stretch begins, and a demuxer that seeks late gets more room the next time.
constexpr double kSeekLeadsSec[] = {0.5, 2.0, 8.0};

}  // namespace

int WaveStretchSource::InterruptCallback(void* opaque) {
  const auto* self = static_cast<WaveStretchSource*>(opaque);
  return self->cancelled_ && self->cancelled_() ? 1 : 0;
}

bool WaveStretchSource::Reopen(const std::string& pathUtf8) {
  input_ = AudioInput{};
  converter_.reset();
  path_ = pathUtf8;
  if (OpenAudioInput(pathUtf8, {&WaveStretchSource::InterruptCallback, this}, &input_) !=
      AudioOpenStep::Done) {
    input_ = AudioInput{};
    path_.clear();
    return false;
  }
  frame_ = MakeFrame();
  packet_ = MakePacket();
  converter_ = std::make_unique<S16Converter>(1, input_.codec->sample_rate);
  return frame_ && packet_ && input_.codec->sample_rate > 0;
}

bool WaveStretchSource::SeekNear(double seconds) {
  const AVStream* stream = input_.Stream();
  const std::int64_t origin = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
  std::int64_t ts = static_cast<std::int64_t>(std::max(0.0, seconds) / av_q2d(input_.timeBase));
  ts = std::max(origin, ts);
  if (av_seek_frame(input_.format.get(), input_.streamIndex, ts, AVSEEK_FLAG_BACKWARD) < 0) return false;
  avcodec_flush_buffers(input_.codec.get());
  converter_->Reset();
  return true;
}

bool WaveStretchSource::Prepare(const std::string& pathUtf8, const std::function<bool()>& cancelled) {
  cancelled_ = cancelled;
  if ((pathUtf8 != path_ || !input_.format) && !Reopen(pathUtf8)) return false;
  // Some demuxers (MP3 among them) index the whole file at the first seek: pay for that now,
  // not at the first zoom.
  const AVFormatContext* format = input_.format.get();
  if (input_.Seekable() && format->duration != AV_NOPTS_VALUE && format->duration > 0)
    SeekNear(static_cast<double>(format->duration) / AV_TIME_BASE - 1);
  return true;
}

int WaveStretchSource::Read(const std::string& pathUtf8, double fromSec, double toSec, int buckets,
                            WaveEnvelope* out, const std::function<bool()>& cancelled) {
  cancelled_ = cancelled;
  const auto isCancelled = [&] { return cancelled && cancelled(); };
  if ((pathUtf8 != path_ || !input_.format) && !Reopen(pathUtf8)) return -1;
  fromSec = std::max(0.0, fromSec);
  if (!(toSec > fromSec) || buckets <= 0) return -1;
  const int rate = input_.codec->sample_rate;
  const std::int64_t fromPos = std::llround(fromSec * rate);
  const std::int64_t toPos = std::max<std::int64_t>(fromPos + 1, std::llround(toSec * rate));
  AVCodecContext* codec = input_.codec.get();
  std::vector<std::int16_t> pcm;

  for (std::size_t attempt = 0;; ++attempt) {
    // A source that cannot jump (a stream) is read from its beginning at once: a "seek" in it
    // would read forward to the place and leave no way back.
    if (!input_.Seekable()) attempt = std::size(kSeekLeadsSec);
    const bool fromTheStart = attempt >= std::size(kSeekLeadsSec);
    // Last of all a fresh opening reads the file from its beginning.
    if (fromTheStart) {
      // A fresh opening has a decoder of its own: the one taken above is gone with the old one.
      if (!Reopen(pathUtf8) || input_.codec->sample_rate != rate) return -1;
      codec = input_.codec.get();
    } else if (!SeekNear(fromSec - kSeekLeadsSec[attempt])) {
      attempt = std::size(kSeekLeadsSec) - 1;  // the file cannot seek
      continue;
    }
    RangeEnvelope range(fromPos, toPos, buckets);
    std::int64_t next = INT64_MIN;  // position after the last converted sample
    bool late = false, ended = false;
    while (!range.Complete() && !late && !ended) {
      if (isCancelled()) return -1;
      AVPacket* packet = packet_.get();
      if (av_read_frame(input_.format.get(), packet) < 0) {
        avcodec_send_packet(codec, nullptr);  // the frames the decoder still holds
        ended = true;
      } else {
        const bool ours = packet->stream_index == input_.streamIndex;
        if (ours) avcodec_send_packet(codec, packet);
        av_packet_unref(packet);
        if (!ours) continue;
      }
      while (avcodec_receive_frame(codec, frame_.get()) == 0) {
        AVFrame* frame = frame_.get();
        std::int64_t at = next == INT64_MIN ? 0 : next;
        if (frame->pts != AV_NOPTS_VALUE) at = std::llround(frame->pts * av_q2d(input_.timeBase) * rate);
        if (next == INT64_MIN && at > fromPos && !fromTheStart) {
          late = true;  // the seek landed inside the stretch: try again from further back
          av_frame_unref(frame);
          break;
        }
        pcm.resize(static_cast<std::size_t>(std::max(frame->nb_samples, 0)) + 64);
        const int n = converter_->Convert(frame, codec, reinterpret_cast<std::uint8_t*>(pcm.data()),
                                          static_cast<int>(pcm.size()));
        if (n <= 0) continue;
        range.Feed(at, pcm.data(), static_cast<std::size_t>(n));
        next = at + n;
      }
    }
    if (ended) path_.clear();  // the decoder was drained: open afresh next time
    // A read that failed is no end of the sound: what was drawn would be short.
    if (ended && SourceReadFailed(input_.format.get())) return -1;
    if (late) continue;
    out->sampleRate = rate;
    out->startSec = static_cast<double>(fromPos) / rate;
    out->samplesPerBucket = static_cast<double>(toPos - fromPos) / buckets;
    out->mins = range.Mins();
    out->maxs = range.Maxs();
    return 0;
  }
}

WaveStretchReader::WaveStretchReader(MessageSink* sink) : sink_(sink) {}

WaveStretchReader::~WaveStretchReader() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

std::uint64_t WaveStretchReader::Request(const std::string& pathUtf8, double fromSec, double toSec,
                                         int buckets) {
  std::lock_guard<std::mutex> hold(lock_);
  const std::uint64_t id = latest_ + 1;
  latest_ = id;
  pending_ = Ask{id, pathUtf8, fromSec, toSec, buckets};
  if (!worker_.joinable()) worker_ = std::thread([this] { Loop(); });
  wake_.notify_all();
  return id;
}

void WaveStretchReader::Prepare(const std::string& pathUtf8) {
  std::lock_guard<std::mutex> hold(lock_);
  const std::uint64_t id = latest_ + 1;
  latest_ = id;
  pending_ = Ask{id, pathUtf8, 0, 0, 0};
  if (!worker_.joinable()) worker_ = std::thread([this] { Loop(); });
  wake_.notify_all();
}

void WaveStretchReader::Cancel() {
  std::lock_guard<std::mutex> hold(lock_);
  pending_.reset();
  ++latest_;
}

void WaveStretchReader::Loop() {
  WaveStretchSource source;
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    wake_.wait(hold, [&] { return stop_ || pending_.has_value(); });
    if (stop_) break;
    const Ask ask = std::move(*pending_);
    pending_.reset();
    hold.unlock();
    if (ask.buckets == 0) {
      source.Prepare(ask.path, [&] { return stop_ || latest_ != ask.id; });
      hold.lock();
      continue;
    }
    auto record = std::make_unique<WaveStretchRecord>();
    record->request = ask.id;
    const int rc = source.Read(ask.path, ask.fromSec, ask.toSec, ask.buckets, &record->envelope,
                               [&] { return stop_ || latest_ != ask.id; });
    hold.lock();
    if (rc == 0 && !stop_ && latest_ == ask.id && sink_)
      sink_->Post(Message(WM_WAVE_STRETCH, std::move(record)));
  }
}

}  // namespace tw
