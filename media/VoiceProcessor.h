// Noise suppression and gain control of the microphone: the WebRTC audio-processing
// instance run on 10-ms frames of 16-bit mono audio at 32000 Hz. Owned and used by one
// thread (the microphone capture thread).
#pragma once

#include <cstdint>
#include <memory>

#include "media/WebRtcPtr.h"

namespace tw {

inline constexpr int kVoiceRate = 32000;
inline constexpr int kVoiceFrameSamples = 320;  // 10 ms
inline constexpr int kVoiceFrameBytes = kVoiceFrameSamples * 2;

class VoiceProcessor {
 public:
  // Which step of Create failed, for the caller's log line.
  enum CreateResult { kOk = 0, kCreateFailed, kNoiseLevelFailed, kGainConfigFailed };

  VoiceProcessor();
  ~VoiceProcessor();
  // Noise suppression at the most aggressive level when noiseSuppression; fixed digital
  // gain with target 3 dBFS, compression gainDb (clamped to the routine's 0..90) and the
  // limiter when gainControl.
  CreateResult Create(bool noiseSuppression, bool gainControl, int gainDb);
  // Processes one frame of kVoiceFrameSamples in place. 0, or the routine's error code.
  int ProcessFrame(int16_t* samples);

 private:
  AudioProcessingPtr apm_;
  std::unique_ptr<webrtc::AudioFrame> frame_;
};

}  // namespace tw
