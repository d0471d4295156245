// Device levels for the recorder page: whether a microphone and a playback device exist,
// and their master levels on a 0..100 scale (level = volume / normal volume x 100).
// Free functions over the sound server; each call opens its own connection and keeps
// nothing, so they may be called from any thread, one call at a time per thread.
// "Capture" is the default source when it is a real input (a monitor of a sink is not a
// microphone); "render" is the default sink. The level functions act on every device of
// the same direction whose description equals the default device's description.
#pragma once

#include <string>

namespace tw {

// True and the default microphone's description; false when there is none (or no server).
bool GetDefaultCaptureName(std::string& name);
// The microphone level 0..100; level is left untouched when no device matches.
void GetCaptureVolume(int& level);
// A default playback device exists.
bool HasRenderDevice();
// The playback level as volume x 100 + 0.5 (the caller truncates); untouched when the
// volume is 0.00001 or less or no device matches.
void GetRenderVolume(float& level);
// Sets the mute state and then the level (0..100) of the matching microphones. A level
// outside 0..100 is refused, as the platform would refuse it; the mute state is set still.
void SetCaptureVolume(bool mute, float level);
// Sets the level of the matching playback devices, clamped to 0..100.
void SetRenderVolume(float level);

// The 0..100 scale: truncation of (scalar x 100 + 0.5).
int LevelFromScalar(double scalar);

}  // namespace tw
