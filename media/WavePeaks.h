// The waveform's values: how a file's 8000 Hz mono sound becomes about 8640 buckets whatever
// its length, each with its extremes (the envelope the view draws) and one picked sample (the
// values the command line prints). Pure logic, no I/O; the waveform reader feeds it chunk by
// chunk, the command-line front end and tests can call it on a whole buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tw {

constexpr int kWaveSampleRate = 8000;
constexpr int kWaveTargetValues = 8640;
// Length of the resampler's low-pass filter (FFmpeg's "filter_size") for the 8 kHz conversion;
// 0 keeps the library's default (32). The view grows with the window and scales a quiet file up
// to its height: only the default's own extremes stay within a pixel of themselves at any size
// (a shorter filter saved a tenth of the reading but moved them by pixels on a tall view).
constexpr int kWaveFilterSize = 0;
// The buckets kept while reading never exceed this; past it neighbours are merged in pairs.
constexpr std::size_t kWaveKeptLimit = 2 * kWaveTargetValues;

// The stride S in bytes of 16-bit samples: 2 × ⌊⌊durationSec × 8000⌋ ÷ 8640⌋.
// -1 when the duration is unusable (not positive, not finite, or beyond any real file).
int WaveStrideBytes(double durationSec);

// The waveform's duration in seconds from what the file says: the stream's duration when it
// is positive, otherwise the container's in whole seconds (microseconds ÷ 1,000,000 in integer
// arithmetic), otherwise 0 (unknown). Arguments are FFmpeg's raw values (AV_NOPTS_VALUE when
// absent).
double WaveDurationSeconds(std::int64_t streamDuration, int timeBaseNum, int timeBaseDen,
                           std::int64_t containerDurationUs);

// The extremes of a sound, bucket by bucket: bucket k covers the samples from
// startSec + k × samplesPerBucket ÷ sampleRate on. A bucket without samples holds
// min > max. Values in 16-bit sample units.
struct WaveEnvelope {
  int sampleRate = kWaveSampleRate;
  double startSec = 0;
  double samplesPerBucket = 1;
  std::vector<std::int16_t> mins;
  std::vector<std::int16_t> maxs;

  std::size_t Size() const { return mins.size(); }
  bool Empty() const { return mins.empty(); }
  double SecondsPerBucket() const { return samplesPerBucket / sampleRate; }
  double EndSec() const { return startSec + static_cast<double>(Size()) * SecondsPerBucket(); }
};

// Cuts a stream of samples, numbered from firstPosition on, into buckets of P = S/2 + 1
// samples (bucket k holds the positions k·P .. k·P + P - 1; S = 0 and S < 0 give one sample
// per bucket). Each bucket keeps its extremes and its last sample, the pick: the picks are the
// samples at positions S/2 + k × (S/2 + 1). The place within a bucket carries from one Feed to
// the next, and a picker that starts where another stops can be appended to it.
//
// Memory stays bounded whatever the file: when the buckets kept reach kWaveKeptLimit (a
// duration that was wrong, or none at all), neighbouring buckets are merged in pairs. Finish
// then re-buckets what was kept with the bucket size that the samples actually seen call for,
// giving about 8640 buckets again. A file whose duration is right never reaches the limit and
// gets exactly the rule's values.
class PeakPicker {
 public:
  explicit PeakPicker(int strideBytes, std::uint64_t firstPosition = 0);

  void Feed(const std::int16_t* samples, std::size_t count);
  // Adds the buckets of a picker of the same stride that starts at this one's Position().
  void Append(PeakPicker&& later);
  // The picks, sign-extended, and the envelope when asked; the picker is spent afterwards.
  std::vector<std::int32_t> Finish(WaveEnvelope* envelope = nullptr);

  // The position of the next sample to feed.
  std::uint64_t Position() const { return position_; }
  std::uint64_t SamplesSeen() const { return position_ - first_; }
  std::size_t Kept() const { return mins_.size(); }

 private:
  std::uint64_t Span() const { return base_ << level_; }
  void Store(std::uint64_t bucket, std::int16_t lo, std::int16_t hi, std::int32_t pick);
  void Halve();
  // Merges every bucket pair once (the level rises by one).
  void RaiseTo(unsigned level);

  std::uint64_t base_;         // samples per bucket before any merging
  unsigned level_ = 0;         // buckets hold base_ << level_ samples
  std::uint64_t first_;        // position of the first sample fed
  std::uint64_t position_;     // of the next sample
  std::uint64_t firstBucket_;  // index (at level_) of mins_[0]
  std::vector<std::int16_t> mins_, maxs_;
  std::vector<std::int32_t> picks_;  // kNoPick where the bucket's last sample was not seen
};

// The whole rule on one buffer.
std::vector<std::int32_t> PickPeaks(const std::int16_t* samples, std::size_t count, int strideBytes,
                                    WaveEnvelope* envelope = nullptr);

// The extremes of samples numbered from 0, in `buckets` equal buckets over [from, to).
// Samples outside are ignored; an empty bucket holds min > max.
class RangeEnvelope {
 public:
  RangeEnvelope(std::int64_t from, std::int64_t to, int buckets);
  // samples[i] sits at position at + i.
  void Feed(std::int64_t at, const std::int16_t* samples, std::size_t count);
  // Every position of the range has been fed.
  bool Complete() const { return next_ >= to_; }
  std::int64_t Next() const { return next_; }
  const std::vector<std::int16_t>& Mins() const { return mins_; }
  const std::vector<std::int16_t>& Maxs() const { return maxs_; }

 private:
  std::int64_t from_, to_, next_;
  std::vector<std::int16_t> mins_, maxs_;
};

}  // namespace tw
