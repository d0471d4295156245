// Device levels for the recorder page: whether a microphone and a playback device exist,
// and their master levels on a 0..100 scale (level = volume / normal volume x 100).
// Free functions over the sound server; each call opens its own connection and keeps
// nothing, so they may be called from any thread, one call at a time per thread (not from a
// window's: a stuck server holds each for seconds). LevelWatcher keeps the page's sliders in
// step without ever holding up its caller.
// "Capture" is the default source when it is a real input (a monitor of a sink is not a
// microphone); "render" is the default sink. The level functions act on every device of
// the same direction whose description equals the default device's description.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

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

// The recorder page's two levels kept in step with the sound server on one connection of their
// own, on a thread of their own: the caller never waits on the server. A level set here is sent
// in the background (only the latest of a run of them, unmuting the microphone as
// SetCaptureVolume does); every change of the default devices' levels, made here or by another
// mixer, and a change of the defaults themselves, is handed to `changed` on the watcher's
// thread as the default microphone's and playback device's own levels (0 when silent, above 100
// when raised past normal, -1 for a device that is not there), once at the start and then
// whenever they differ from the last ones handed.
class LevelWatcher {
 public:
  using Changed = std::function<void(int captureLevel, int renderLevel)>;
  explicit LevelWatcher(Changed changed);
  ~LevelWatcher();
  LevelWatcher(const LevelWatcher&) = delete;
  LevelWatcher& operator=(const LevelWatcher&) = delete;
  void SetCapture(int level);
  void SetRender(int level);

 private:
  void Run();
  Changed changed_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::atomic<bool> stop_{false};
  bool changedOnServer_ = false;  // guarded by lock_
  int captureWanted_ = -1;        // guarded by lock_; -1: nothing to send
  int renderWanted_ = -1;         // guarded by lock_
  std::thread thread_;
};

}  // namespace tw
