// Owners of SDL2's audio: the audio subsystem of one user, and the single legacy output
// device (SDL_OpenAudio / SDL_PauseAudio / SDL_CloseAudio). The output driver is whatever
// SDL_AUDIODRIVER chooses (pulse, alsa, dummy); SDL picks one itself when it is unset.
#pragma once

#include <SDL2/SDL.h>

#include <string>

namespace tw {

// SDL's audio and timer subsystems, held from Init until Quit or destruction. SDL counts
// its users per subsystem, so two holders never shut each other down. Window thread.
class SdlAudioSession {
 public:
  SdlAudioSession() = default;
  SdlAudioSession(const SdlAudioSession&) = delete;
  SdlAudioSession& operator=(const SdlAudioSession&) = delete;
  ~SdlAudioSession() { Quit(); }

  // 0 on success, -1 when the timer fails, -2 when no audio driver can start (no sound
  // server, no device library). SDL_GetError() says why.
  int Init();
  void Quit();
  bool Active() const { return active_; }

 private:
  bool active_ = false;
};

// The one device of SDL's legacy interface. Open/Start/Close on the window thread; the
// callback runs on SDL's audio thread from Start until Close returns.
class SdlLegacyDevice {
 public:
  SdlLegacyDevice() = default;
  SdlLegacyDevice(const SdlLegacyDevice&) = delete;
  SdlLegacyDevice& operator=(const SdlLegacyDevice&) = delete;
  ~SdlLegacyDevice() { Close(); }

  // Opens with exactly this format; SDL converts when the hardware differs. 0 or -1.
  int Open(SDL_AudioSpec& desired);
  // Unpauses the device: the callback starts to run.
  void Start();
  // Stops the callback (waits for a running one to return) and closes the device.
  void Close();
  bool IsOpen() const { return open_; }

 private:
  bool open_ = false;
};

// Keeps the callback off while a caller touches what the callback uses (SDL_LockAudio).
class SdlAudioLock {
 public:
  explicit SdlAudioLock(const SdlLegacyDevice& device) : locked_(device.IsOpen()) {
    if (locked_) SDL_LockAudio();
  }
  SdlAudioLock(const SdlAudioLock&) = delete;
  SdlAudioLock& operator=(const SdlAudioLock&) = delete;
  ~SdlAudioLock() {
    if (locked_) SDL_UnlockAudio();
  }

 private:
  bool locked_;
};

}  // namespace tw
