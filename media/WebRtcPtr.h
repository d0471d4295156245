// Owner of a WebRTC audio processing instance, written once for every engine that cleans
// or levels sound. The instance is not thread-safe: one thread uses it at a time.
#pragma once

#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <memory>

namespace tw {

using AudioProcessingPtr = std::unique_ptr<webrtc::AudioProcessing>;

// A fresh instance with every component off; null when the library cannot create one.
inline AudioProcessingPtr MakeAudioProcessing() {
  return AudioProcessingPtr(webrtc::AudioProcessing::Create());
}

}  // namespace tw
