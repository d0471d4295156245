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
      "noise-level-0",
      "noise-level-1",
      "noise-level-2"};
}

bool NoisePage::Notify(const QString& type, QObject* sender) {
  if (Page::Notify(type, sender)) return true;
  if (type != "click") return false;
  static const std::pair<const char*, int> levels[] = {{"noise-level-0", 1}, {"noise-level-1", 2}, {"noise-level-2", 3}};
  for (const auto& [name, level] : levels) {
    if (sender->objectName() != name) continue;
    noiseLevel_ = level;
    return true;
  }
  return false;
}

// WM_NOISE_PROGRESS and WM_NOISE_DONE are applied here when the denoisers post them.
bool NoisePage::HandleMessage(Message&) { return false; }

}  // namespace tw
