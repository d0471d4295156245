// The waveform's values: which samples of a file's 8000 Hz mono sound are kept so that a
// file of any length yields about 8640 values. Pure logic, no I/O; the waveform reader feeds
// it chunk by chunk, the command-line front end and tests can call it on a whole buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tw {

constexpr int kWaveSampleRate = 8000;
constexpr int kWaveTargetValues = 8640;
// Length of the resampler's low-pass filter (FFmpeg's "filter_size") for the 8 kHz conversion.
constexpr int kWaveFilterSize = 8;
// The values kept while reading never exceed this; past it every second one is dropped.
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

// Takes, from a stream of samples numbered from 0, those at positions S/2 + k × (S/2 + 1)
// (every sample when S = 0), carrying the place within the stride from one Feed to the next.
//
// Memory stays bounded whatever the file: when the values kept reach kWaveKeptLimit (a
// duration that was wrong, or none at all: S < 0 takes every sample), every second value is
// dropped and from then on only every second pick is kept. Finish then re-picks what was kept
// with the stride that the samples actually seen call for, giving about 8640 values again.
// A file whose duration is right never reaches the limit and gets exactly the rule's values.
class PeakPicker {
 public:
  explicit PeakPicker(int strideBytes);

  void Feed(const std::int16_t* samples, std::size_t count);
  // The values, sign-extended; the picker is spent afterwards.
  std::vector<std::int32_t> Finish();

  std::uint64_t SamplesSeen() const { return seen_; }
  std::size_t Kept() const { return kept_.size(); }

 private:
  void Halve();

  std::uint64_t offset_;         // position of the first pick
  std::uint64_t period_;         // distance between picks
  std::uint64_t keepEvery_ = 1;  // of the picks, every keepEvery_-th is stored
  std::uint64_t nextPick_;       // position of the next pick to store
  std::uint64_t seen_ = 0;
  bool thinned_ = false;
  std::vector<std::int32_t> kept_;
};

// The whole rule on one buffer.
std::vector<std::int32_t> PickPeaks(const std::int16_t* samples, std::size_t count, int strideBytes);

}  // namespace tw
