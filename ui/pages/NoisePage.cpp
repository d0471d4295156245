#include "ui/pages/NoisePage.h"

#include "app/Messages.h"

namespace tw {

QStringList NoisePage::ControlNames() const {
  return {
      "add-noise-file",
      "audio-noise-list",
      "audio-noise-format",
      "video-noise-format",
      "noise-level-0",
      "noise-level-1",
      "noise-level-2"};
}

QStringList NoisePage::NotifyNames() const {
  return Page::NotifyNames() + QStringList{
      "add-noise-file",
      "noise-level-0",
      "noise-level-1",
      "noise-level-2"};
}

// WM_NOISE_PROGRESS and WM_NOISE_DONE are applied here when the denoisers post them.
bool NoisePage::HandleMessage(Message&) { return false; }

}  // namespace tw
