#include "media/VoiceProcessor.h"

#include <algorithm>
#include <cstring>

namespace tw {

VoiceProcessor::VoiceProcessor() = default;
VoiceProcessor::~VoiceProcessor() = default;

VoiceProcessor::CreateResult VoiceProcessor::Create(bool noiseSuppression, bool gainControl, int gainDb) {
  // The legacy routines only: the newer gain manager (on by default) drives an analog
  // level this recorder has no use for and costs a pitch analysis per frame.
  webrtc::Config config;
  config.Set<webrtc::ExperimentalAgc>(new webrtc::ExperimentalAgc(false));
  apm_.reset(webrtc::AudioProcessing::Create(config));
  if (!apm_) return kCreateFailed;
  frame_ = std::make_unique<webrtc::AudioFrame>();
  auto* ns = apm_->noise_suppression();
  if (ns->set_level(webrtc::NoiseSuppression::kVeryHigh) != 0 || ns->Enable(noiseSuppression) != 0)
    return kNoiseLevelFailed;
  auto* agc = apm_->gain_control();
  if (agc->set_analog_level_limits(0, 255) != 0 || agc->set_mode(webrtc::GainControl::kFixedDigital) != 0 ||
      agc->set_target_level_dbfs(3) != 0 || agc->set_compression_gain_db(std::clamp(gainDb, 0, 90)) != 0 ||
      agc->enable_limiter(true) != 0 || agc->Enable(gainControl) != 0)
    return kGainConfigFailed;
  return kOk;
}

int VoiceProcessor::ProcessFrame(int16_t* samples) {
  if (!apm_) return -1;
  frame_->UpdateFrame(0, 0, samples, kVoiceFrameSamples, kVoiceRate, webrtc::AudioFrame::kNormalSpeech,
                      webrtc::AudioFrame::kVadUnknown, 1);
  const int rc = apm_->ProcessStream(frame_.get());
  if (rc != 0) return rc;
  std::memcpy(samples, frame_->data_, kVoiceFrameBytes);
  return 0;
}

}  // namespace tw
