#include "media/WavePeaks.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace tw {

namespace {

// A week of sound: beyond this a duration is treated as nonsense.
constexpr double kMaxUsableSeconds = 7.0 * 24 * 3600;
constexpr std::int64_t kNoValue = INT64_MIN;  // AV_NOPTS_VALUE

}  // namespace

int WaveStrideBytes(double durationSec) {
  if (!std::isfinite(durationSec) || durationSec <= 0 || durationSec > kMaxUsableSeconds) return -1;
  const auto samples = static_cast<std::int64_t>(durationSec * kWaveSampleRate);
  return static_cast<int>(2 * (samples / kWaveTargetValues));
}

double WaveDurationSeconds(std::int64_t streamDuration, int timeBaseNum, int timeBaseDen,
                           std::int64_t containerDurationUs) {
  if (streamDuration != kNoValue && streamDuration > 0 && timeBaseNum > 0 && timeBaseDen > 0) {
    return static_cast<double>(streamDuration) * timeBaseNum / timeBaseDen;
  }
  if (containerDurationUs != kNoValue && containerDurationUs > 0) {
    return static_cast<double>(containerDurationUs / 1000000);
  }
  return 0;
}

namespace {

constexpr std::int32_t kNoPick = INT32_MIN;
constexpr std::int16_t kEmptyMin = INT16_MAX;
constexpr std::int16_t kEmptyMax = INT16_MIN;

// The extremes of a run of samples.
void Extremes(const std::int16_t* samples, std::size_t count, std::int16_t* lo, std::int16_t* hi) {
  std::int16_t a = kEmptyMin, b = kEmptyMax;
  for (std::size_t i = 0; i < count; ++i) {
    a = std::min(a, samples[i]);
    b = std::max(b, samples[i]);
  }
  *lo = a;
  *hi = b;
}

}  // namespace

PeakPicker::PeakPicker(int strideBytes, std::uint64_t firstPosition)
    : base_((strideBytes > 0 ? static_cast<std::uint64_t>(strideBytes) / 2 : 0) + 1),
      first_(firstPosition),
      position_(firstPosition),
      firstBucket_(firstPosition / base_) {
  mins_.reserve(kWaveTargetValues + 16);
  maxs_.reserve(kWaveTargetValues + 16);
  picks_.reserve(kWaveTargetValues + 16);
}

void PeakPicker::Store(std::uint64_t bucket, std::int16_t lo, std::int16_t hi, std::int32_t pick) {
  if (mins_.empty()) firstBucket_ = bucket;
  // Buckets stay contiguous: a bucket no sample reached stays empty.
  while (firstBucket_ + mins_.size() < bucket) {
    mins_.push_back(kEmptyMin);
    maxs_.push_back(kEmptyMax);
    picks_.push_back(kNoPick);
  }
  if (firstBucket_ + mins_.size() == bucket + 1) {
    mins_.back() = std::min(mins_.back(), lo);
    maxs_.back() = std::max(maxs_.back(), hi);
    if (pick != kNoPick) picks_.back() = pick;  // the later samples hold the bucket's last one
    return;
  }
  mins_.push_back(lo);
  maxs_.push_back(hi);
  picks_.push_back(pick);
}

void PeakPicker::Feed(const std::int16_t* samples, std::size_t count) {
  while (count > 0) {
    const std::uint64_t span = Span();
    const std::uint64_t bucket = position_ / span;
    const std::uint64_t bucketEnd = (bucket + 1) * span;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, bucketEnd - position_));
    std::int16_t lo, hi;
    Extremes(samples, n, &lo, &hi);
    Store(bucket, lo, hi, position_ + n == bucketEnd ? samples[n - 1] : kNoPick);
    samples += n;
    count -= n;
    position_ += n;
    if (Kept() >= kWaveKeptLimit) Halve();
  }
}

void PeakPicker::Halve() {
  RaiseTo(level_ + 1);
}

void PeakPicker::RaiseTo(unsigned level) {
  while (level_ < level) {
    // Bucket i of this level becomes bucket i / 2 of the next; an odd bucket ends its pair, so
    // its pick is the pair's.
    std::vector<std::int16_t> mins, maxs;
    std::vector<std::int32_t> picks;
    mins.reserve(mins_.size() / 2 + 1);
    maxs.reserve(mins_.size() / 2 + 1);
    picks.reserve(mins_.size() / 2 + 1);
    const std::uint64_t first = firstBucket_ >> 1;
    for (std::size_t i = 0; i < mins_.size(); ++i) {
      const std::uint64_t index = firstBucket_ + i;
      const std::size_t at = static_cast<std::size_t>((index >> 1) - first);
      const std::int32_t pick = (index & 1) ? picks_[i] : kNoPick;
      if (at == mins.size()) {
        mins.push_back(mins_[i]);
        maxs.push_back(maxs_[i]);
        picks.push_back(pick);
      } else {
        mins[at] = std::min(mins[at], mins_[i]);
        maxs[at] = std::max(maxs[at], maxs_[i]);
        if (pick != kNoPick) picks[at] = pick;
      }
    }
    mins_ = std::move(mins);
    maxs_ = std::move(maxs);
    picks_ = std::move(picks);
    firstBucket_ = first;
    ++level_;
  }
}

void PeakPicker::Append(PeakPicker&& later) {
  const unsigned level = std::max(level_, later.level_);
  RaiseTo(level);
  later.RaiseTo(level);
  for (std::size_t i = 0; i < later.mins_.size(); ++i)
    Store(later.firstBucket_ + i, later.mins_[i], later.maxs_[i], later.picks_[i]);
  position_ = std::max(position_, later.position_);
  while (Kept() >= kWaveKeptLimit) Halve();
  later.mins_.clear();
  later.maxs_.clear();
  later.picks_.clear();
}

std::vector<std::int32_t> PeakPicker::Finish(WaveEnvelope* envelope) {
  std::vector<std::int32_t> picked;
  if (level_ == 0) {
    picked.reserve(picks_.size());
    for (std::int32_t pick : picks_)
      if (pick != kNoPick) picked.push_back(pick);
    if (envelope) {
      envelope->sampleRate = kWaveSampleRate;
      envelope->samplesPerBucket = static_cast<double>(base_);
      envelope->startSec = static_cast<double>(firstBucket_ * base_) / kWaveSampleRate;
      envelope->mins = std::move(mins_);
      envelope->maxs = std::move(maxs_);
    }
    picks_.clear();
    return picked;
  }
  // Re-bucket with the size the samples seen call for: S / 2 + 1 of the rule, with the samples
  // seen standing for duration × 8000. Each new bucket takes the extremes of the kept buckets
  // it overlaps and the pick of the kept bucket holding its last sample (or the one before).
  const std::uint64_t seen = SamplesSeen();
  const std::uint64_t size = seen / kWaveTargetValues + 1;
  const std::uint64_t span = Span();
  const std::uint64_t keptStart = firstBucket_ * span;
  const auto keptIndex = [&](std::uint64_t position) {
    const std::uint64_t at = position < keptStart ? 0 : (position - keptStart) / span;
    return static_cast<std::size_t>(std::min<std::uint64_t>(at, mins_.size() - 1));
  };
  WaveEnvelope out;
  out.samplesPerBucket = static_cast<double>(size);
  out.startSec = static_cast<double>(first_) / kWaveSampleRate;
  picked.reserve(kWaveTargetValues + 1);
  for (std::uint64_t from = first_; from < position_ && !mins_.empty(); from += size) {
    const std::uint64_t last = std::min(from + size, position_) - 1;
    std::int16_t lo = kEmptyMin, hi = kEmptyMax;
    for (std::size_t k = keptIndex(from); k <= keptIndex(last); ++k) {
      lo = std::min(lo, mins_[k]);
      hi = std::max(hi, maxs_[k]);
    }
    out.mins.push_back(lo);
    out.maxs.push_back(hi);
    if (from + size > position_) break;  // the last bucket is not complete: no pick
    for (std::size_t k = keptIndex(last) + 1; k-- > 0;) {
      if (picks_[k] != kNoPick) {
        picked.push_back(picks_[k]);
        break;
      }
    }
  }
  if (envelope) *envelope = std::move(out);
  mins_.clear();
  maxs_.clear();
  picks_.clear();
  return picked;
}

std::vector<std::int32_t> PickPeaks(const std::int16_t* samples, std::size_t count, int strideBytes,
                                    WaveEnvelope* envelope) {
  PeakPicker picker(strideBytes);
  picker.Feed(samples, count);
  return picker.Finish(envelope);
}

RangeEnvelope::RangeEnvelope(std::int64_t from, std::int64_t to, int buckets)
    : from_(from),
      to_(std::max(from, to)),
      next_(from),
      mins_(static_cast<std::size_t>(std::max(0, buckets)), kEmptyMin),
      maxs_(static_cast<std::size_t>(std::max(0, buckets)), kEmptyMax) {}

void RangeEnvelope::Feed(std::int64_t at, const std::int16_t* samples, std::size_t count) {
  const std::int64_t length = to_ - from_;
  const auto buckets = static_cast<std::int64_t>(mins_.size());
  if (length <= 0 || buckets == 0) return;
  std::int64_t p = std::max(at, from_);
  const std::int64_t end = std::min(at + static_cast<std::int64_t>(count), to_);
  while (p < end) {
    // Bucket k holds the positions from + ceil(k × length ÷ buckets) on.
    const std::int64_t k = (p - from_) * buckets / length;
    const std::int64_t bucketEnd = from_ + ((k + 1) * length + buckets - 1) / buckets;
    const std::int64_t runEnd = std::min(end, bucketEnd);
    std::int16_t lo, hi;
    Extremes(samples + (p - at), static_cast<std::size_t>(runEnd - p), &lo, &hi);
    mins_[static_cast<std::size_t>(k)] = std::min(mins_[static_cast<std::size_t>(k)], lo);
    maxs_[static_cast<std::size_t>(k)] = std::max(maxs_[static_cast<std::size_t>(k)], hi);
    p = runEnd;
  }
  next_ = std::max(next_, end);
}

}  // namespace tw
