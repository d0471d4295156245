#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>

#include "media/WavePeaks.h"

namespace tw {
namespace {

constexpr int64_t kNoValue = INT64_MIN;

TEST(WavePeaksTest, StrideRule) {
  struct Case {
    double seconds;
    int stride;
  };
  const Case cases[] = {
      {0.5, 0},
      {1.0, 0},
      {1.079, 0},  // shorter than 1.08 s keeps every sample
      {1.08, 2},
      {2.16, 4},
      {180, 332},
      {3600, 6666},
      {7200, 13332},
      {3.0, 4},
      {3.9, 6},  // the container fallback changes the stride
      {0, -1},
      {-3, -1},
      {std::numeric_limits<double>::quiet_NaN(), -1},
      {std::numeric_limits<double>::infinity(), -1},
      {-9.2e18 / 44100, -1},
      {1e12, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(WaveStrideBytes(c.seconds), c.stride) << c.seconds;
}

TEST(WavePeaksTest, DurationFromStreamThenContainerInWholeSeconds) {
  struct Case {
    const char* name;
    int64_t streamDuration;
    int num, den;
    int64_t containerUs;
    double expected;
  };
  const Case cases[] = {
      {"stream says", 441000, 1, 44100, 3900000, 10.0},
      {"stream missing, container 3.9 s", kNoValue, 1, 1000, 3900000, 3.0},
      {"stream negative", -5, 1, 1000, 2999999, 2.0},
      {"stream zero", 0, 1, 1000, 7000000, 7.0},
      {"both missing", kNoValue, 1, 1000, kNoValue, 0.0},
      {"container under a second", kNoValue, 1, 1000, 500000, 0.0},
      {"broken time base", 1000, 0, 0, 4000000, 4.0},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(WaveDurationSeconds(c.streamDuration, c.num, c.den, c.containerUs), c.expected)
        << c.name;
  }
}

// Sample n holds n (mod 32768), so every value names the position it was taken from.
std::vector<int16_t> Ramp(size_t count, size_t first = 0) {
  std::vector<int16_t> samples(count);
  for (size_t i = 0; i < count; ++i) samples[i] = static_cast<int16_t>((first + i) % 32768);
  return samples;
}

TEST(WavePeaksTest, TakesOneSampleInEveryHalfStridePlusOne) {
  struct Case {
    int stride;
    size_t count;
    std::vector<int32_t> expected;
  };
  const Case cases[] = {
      {0, 5, {0, 1, 2, 3, 4}},
      {-1, 4, {0, 1, 2, 3}},  // unknown length: every sample while few
      {2, 7, {1, 3, 5}},
      {4, 12, {2, 5, 8, 11}},
      {6, 5, {3}},
      {6, 3, {}},
      {332, 1000, {166, 333, 500, 667, 834}},
  };
  for (const Case& c : cases) {
    const auto samples = Ramp(c.count);
    EXPECT_EQ(PickPeaks(samples.data(), samples.size(), c.stride), c.expected) << "stride " << c.stride;
  }
}

// The reader feeds chunks of whatever size the decoder produced; the place within the stride
// must carry over, so any chunking gives the values of one big buffer.
TEST(WavePeaksTest, ChunkingDoesNotChangeThePicks) {
  const auto samples = Ramp(100000);
  for (int stride : {0, 2, 10, 332, 6666}) {
    const auto whole = PickPeaks(samples.data(), samples.size(), stride);
    for (size_t chunk : {1u, 7u, 160u, 1152u, 4096u}) {
      PeakPicker picker(stride);
      for (size_t at = 0; at < samples.size(); at += chunk) {
        picker.Feed(samples.data() + at, std::min(chunk, samples.size() - at));
      }
      EXPECT_EQ(picker.Finish(), whole) << "stride " << stride << " chunk " << chunk;
    }
  }
}

TEST(WavePeaksTest, SignExtendsNegativeSamples) {
  const std::vector<int16_t> samples{-32768, -1, 32767, 0};
  EXPECT_EQ(PickPeaks(samples.data(), samples.size(), 0), (std::vector<int32_t>{-32768, -1, 32767, 0}));
}

TEST(WavePeaksTest, CountsForRealDurations) {
  struct Case {
    double seconds;
    size_t low, high;
  };
  const Case cases[] = {{0.5, 4000, 4000}, {180, 8622, 8623}, {3600, 8630, 8641}, {1.5, 6000, 6000}};
  for (const Case& c : cases) {
    const auto samples = Ramp(static_cast<size_t>(c.seconds * kWaveSampleRate));
    const size_t n = PickPeaks(samples.data(), samples.size(), WaveStrideBytes(c.seconds)).size();
    EXPECT_GE(n, c.low) << c.seconds;
    EXPECT_LE(n, c.high) << c.seconds;
  }
}

// A file with no usable duration, or one that claims far less than it holds, must not keep
// every 8 kHz sample: memory stays under the limit while reading and the result is about 8640
// values spread evenly over the whole sound.
TEST(WavePeaksTest, BoundedWhateverTheDurationSays) {
  struct Case {
    const char* name;
    int stride;
    double realSeconds;
  };
  const Case cases[] = {
      {"no duration, 20 minutes", -1, 1200},
      {"no duration, 3 hours", -1, 3 * 3600},
      {"claims 1 s, holds 10 minutes", WaveStrideBytes(1), 600},
      {"claims 60 s, holds 2 hours", WaveStrideBytes(60), 7200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t total = static_cast<size_t>(c.realSeconds * kWaveSampleRate);
    PeakPicker picker(c.stride);
    std::vector<int16_t> chunk(1152);
    size_t maxKept = 0;
    for (size_t at = 0; at < total; at += chunk.size()) {
      const size_t n = std::min(chunk.size(), total - at);
      // Sample value = position / 4096, so a value tells where along the sound it came from.
      for (size_t i = 0; i < n; ++i) chunk[i] = static_cast<int16_t>((at + i) / 4096);
      picker.Feed(chunk.data(), n);
      maxKept = std::max(maxKept, picker.Kept());
    }
    EXPECT_LE(maxKept, kWaveKeptLimit);
    const auto values = picker.Finish();
    EXPECT_GE(values.size(), 8600u);
    EXPECT_LE(values.size(), 8641u);
    // Evenly spread: value k sits near position k × total / count.
    const size_t probes[] = {0, values.size() / 4, values.size() / 2, values.size() - 1};
    for (size_t k : probes) {
      const double expectedPos = static_cast<double>(k) * total / values.size();
      EXPECT_NEAR(values[k] * 4096.0, expectedPos, total / 1000.0 + 8192) << "value " << k;
    }
  }
}

}  // namespace
}  // namespace tw
