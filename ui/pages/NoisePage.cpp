#include "ui/pages/NoisePage.h"

#include <cstring>

#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "media/NoiseRecords.h"
#include "media/NoiseRun.h"

namespace tw {

QStringList NoisePage::ControlNames() const {
  return {"add-noise-file", "audio-noise-list", "audio-noise-format", "video-noise-format",
          "noise-level-0",  "noise-level-1",    "noise-level-2",      "all-noise-btn"};
}

QStringList NoisePage::NotifyNames() const {
  return Page::NotifyNames() + QStringList{"noise-level-0", "noise-level-1", "noise-level-2"};
}

bool NoisePage::Notify(const QString& type, QObject* sender) {
  if (Page::Notify(type, sender)) return true;
  if (type != "click") return false;
  static const std::pair<const char*, int> levels[] = {
      {"noise-level-0", 1}, {"noise-level-1", 2}, {"noise-level-2", 3}};
  for (const auto& [name, level] : levels) {
    if (sender->objectName() != name) continue;
    noiseLevel_ = level;
    return true;
  }
  if (sender->objectName() == "noiseBtn") {
    PressRow(sender);
    return true;
  }
  return false;
}

// An extension neither engine takes (a mixed-case ".Mp3" too) or an engine that cannot start
// shows on the row with its reason, and the button takes clicks again.
Page::RowJob NoisePage::MakeRowJob(int taskId, const FileEntry& entry) {
  NoiseRunSettings settings;
  settings.audioFormat = ComboText("audio-noise-format").toStdString();
  settings.videoFormat = ComboText("video-noise-format").toStdString();
  settings.policy = noiseLevel_;
  settings.outputFolder = GetOutputFolder();
  RowJob job;
  job.ok = true;
  job.start = MakeNoiseStarter(taskId, entry.fullPath, settings, ctx_.sink);
  return job;
}

bool NoisePage::HandleMessage(Message& message) {
  switch (message.id) {
    case WM_NOISE_PROGRESS:
      if (auto* r = message.As<NoiseProgressRecord>(); r && IsCurrent(r->itemId, message.runId))
        SetRowProgress(FindRow(r->itemId), "noise-progress", r->percent);
      return true;
    case WM_NOISE_DONE:
      if (auto* r = message.As<NoiseDoneRecord>(); r && IsCurrent(r->itemId, message.runId)) {
        if (r->result != 0)
          ShowFailed(r->itemId, NoiseFailure(*r),
                     r->error ? QString::fromLocal8Bit(std::strerror(r->error)) : QString());
        else
          ShowDone(r->itemId);
        FinishJob(r->itemId, message.runId, r->result == 0);
      }
      return true;
    default:
      return false;
  }
}

}  // namespace tw
