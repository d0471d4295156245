#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "media/VoiceProcessor.h"

namespace tw {
namespace {

// Mean square level in dB (full scale 32768) of the second half of signal, where the routines
// have settled.
double LevelDb(const std::vector<int16_t>& signal) {
  const size_t half = signal.size() / kVoiceFrameSamples / 2 * kVoiceFrameSamples;
  double sum = 0;
  for (size_t i = half; i < signal.size(); ++i) sum += static_cast<double>(signal[i]) * signal[i];
  return 10 * std::log10(sum / static_cast<double>(signal.size() - half) / (32768.0 * 32768.0) + 1e-12);
}

// The signal run through a processor in 10-ms frames (a trailing part frame is dropped).
std::vector<int16_t> Processed(bool noise, bool gain, int gainDb, const std::vector<int16_t>& signal) {
  VoiceProcessor voice;
  EXPECT_EQ(voice.Create(noise, gain, gainDb), VoiceProcessor::kOk);
  std::vector<int16_t> out(signal.size() / kVoiceFrameSamples * kVoiceFrameSamples);
  std::copy_n(signal.begin(), out.size(), out.begin());
  for (size_t f = 0; f < out.size(); f += kVoiceFrameSamples) EXPECT_EQ(voice.ProcessFrame(&out[f]), 0);
  return out;
}

std::vector<int16_t> WhiteNoise(double amplitude, int seconds) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> uniform(-amplitude, amplitude);
  std::vector<int16_t> out(static_cast<size_t>(kVoiceRate * seconds));
  for (auto& s : out) s = static_cast<int16_t>(uniform(random) * 32767);
  return out;
}

std::vector<int16_t> Tone(double amplitude, int frequency, int seconds) {
  std::vector<int16_t> out(static_cast<size_t>(kVoiceRate * seconds));
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<int16_t>(amplitude * 32767 * std::sin(2 * M_PI * frequency * i / kVoiceRate));
  return out;
}

TEST(VoiceProcessor, EachStepDoesItsJob) {
  const std::vector<int16_t> noise = WhiteNoise(0.1, 4);
  const std::vector<int16_t> quiet = Tone(0.01, 500, 4);
  const struct {
    const char* name;
    const std::vector<int16_t>* signal;
    bool noiseOn, gainOn;
    int gainDb;
    double minChangeDb, maxChangeDb;
  } cases[] = {
      {"nothing enabled passes through", &noise, false, false, 20, -0.5, 0.5},
      {"noise suppression lowers steady noise", &noise, true, false, 20, -100, -10},
      {"gain control lifts a quiet tone", &quiet, false, true, 20, 6, 30},
      {"no compression gain lifts little", &quiet, false, true, 0, -3, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const double input = LevelDb(*c.signal);
    const double processed = LevelDb(Processed(c.noiseOn, c.gainOn, c.gainDb, *c.signal));
    EXPECT_GE(processed - input, c.minChangeDb) << input << " -> " << processed;
    EXPECT_LE(processed - input, c.maxChangeDb) << input << " -> " << processed;
  }
}

TEST(VoiceProcessor, UnsetProcessorRefusesFrames) {
  VoiceProcessor voice;
  std::vector<int16_t> frame(kVoiceFrameSamples, 100);
  EXPECT_NE(voice.ProcessFrame(frame.data()), 0);
  EXPECT_EQ(frame[0], 100);
}

}  // namespace
}  // namespace tw
