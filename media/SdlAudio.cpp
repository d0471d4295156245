#include "media/SdlAudio.h"

namespace tw {

int SdlAudioSession::Init() {
  if (active_) return 0;
  // The host program owns SIGINT and SIGTERM; SDL must not take them over.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_TIMER) != 0) return -1;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    SDL_QuitSubSystem(SDL_INIT_TIMER);
    return -2;
  }
  active_ = true;
  return 0;
}

void SdlAudioSession::Quit() {
  if (!active_) return;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  SDL_QuitSubSystem(SDL_INIT_TIMER);
  active_ = false;
}

int SdlLegacyDevice::Open(SDL_AudioSpec& desired) {
  if (open_) return -1;
  if (SDL_OpenAudio(&desired, nullptr) != 0) return -1;
  open_ = true;
  return 0;
}

void SdlLegacyDevice::Start() {
  if (open_) SDL_PauseAudio(0);
}

void SdlLegacyDevice::Close() {
  if (!open_) return;
  SDL_CloseAudio();
  open_ = false;
}

}  // namespace tw
