#include "media/WavePeaks.h"

#include <algorithm>
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

PeakPicker::PeakPicker(int strideBytes) {
  const std::uint64_t half = strideBytes > 0 ? static_cast<std::uint64_t>(strideBytes) / 2 : 0;
  offset_ = half;
  period_ = half + 1;
  nextPick_ = offset_;
  kept_.reserve(std::min<std::size_t>(kWaveKeptLimit, kWaveTargetValues + 16));
}

void PeakPicker::Feed(const std::int16_t* samples, std::size_t count) {
  const std::uint64_t end = seen_ + count;
  while (nextPick_ < end) {
    kept_.push_back(samples[nextPick_ - seen_]);
    nextPick_ += period_ * keepEvery_;
    if (kept_.size() >= kWaveKeptLimit) Halve();
  }
  seen_ = end;
}

void PeakPicker::Halve() {
  // kept_[i] is pick i × keepEvery_; keeping the even ones leaves picks i × 2·keepEvery_. The
  // next pick to store stays valid because the limit is even.
  std::size_t out = 0;
  for (std::size_t i = 0; i < kept_.size(); i += 2) kept_[out++] = kept_[i];
  kept_.resize(out);
  keepEvery_ *= 2;
  thinned_ = true;
}

std::vector<std::int32_t> PeakPicker::Finish() {
  if (!thinned_ || kept_.empty()) return std::move(kept_);
  // Re-pick with the stride the samples seen call for, each value from the nearest stored pick.
  // S / 2 of the rule, with the samples seen standing for duration × 8000.
  const std::uint64_t half = seen_ / kWaveTargetValues;
  const std::uint64_t offset = half;
  const std::uint64_t period = half + 1;
  std::vector<std::int32_t> picked;
  picked.reserve(kWaveTargetValues + 1);
  const double storedSpacing = static_cast<double>(period_ * keepEvery_);
  for (std::uint64_t q = offset; q < seen_; q += period) {
    const double at = q < offset_ ? 0.0 : static_cast<double>(q - offset_) / storedSpacing;
    const auto index = std::min<std::size_t>(static_cast<std::size_t>(std::llround(at)), kept_.size() - 1);
    picked.push_back(kept_[index]);
  }
  kept_.clear();
  return picked;
}

std::vector<std::int32_t> PickPeaks(const std::int16_t* samples, std::size_t count, int strideBytes) {
  PeakPicker picker(strideBytes);
  picker.Feed(samples, count);
  return picker.Finish();
}

}  // namespace tw
