#include "ui/pages/NoisePage.h"

#include <glog/logging.h>

#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "media/NoiseJobTable.h"
#include "media/NoiseRecords.h"

namespace tw {

NoisePage::NoisePage(PageContext& context)
    : Page(context, OperationKind::Noise), jobs_(std::make_unique<NoiseJobTable>(context.sink)) {}

NoisePage::~NoisePage() = default;

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
  if (sender->objectName() == "noiseBtn") {
    StartNoise(sender);
    return true;
  }
  return false;
}

void NoisePage::StartNoise(QObject* button) {
  const int taskId = GetTag(button);
  FileEntry entry;
  if (!ctx_.tasks || !ctx_.tasks->Find(taskId, &entry)) return;
  SetMouseEnabled(qobject_cast<QWidget*>(button), false);
  NoiseRunSettings settings;
  settings.audioFormat = ComboText("audio-noise-format").toStdString();
  settings.videoFormat = ComboText("video-noise-format").toStdString();
  settings.policy = noiseLevel_;
  settings.outputFolder = GetOutputFolder();
  SetRowProgress(FindRow(taskId), "noise-progress", 0);
  // An extension neither engine takes (a mixed-case ".Mp3" too) or an engine that cannot
  // start shows as a failed run, and the button takes clicks again.
  if (jobs_->Run(taskId, entry.fullPath, settings) != 0) {
    LOG(ERROR) << "noise run not started for task " << taskId << ": " << entry.fullPath;
    ShowFailed(taskId);
  }
}

void NoisePage::ShowFailed(int taskId) {
  FailureRecord failure;
  failure.taskId = taskId;
  failure.kind = OperationKind::Noise;
  OnTaskFailed(failure);
}

void NoisePage::EndRowWork(int taskId) {
  jobs_->End(taskId);
}

void NoisePage::WindowClosing() {
  jobs_->EndAll();
}

bool NoisePage::HandleMessage(Message& message) {
  switch (message.id) {
    case WM_NOISE_PROGRESS:
      if (auto* r = message.As<NoiseProgressRecord>()) SetRowProgress(FindRow(r->itemId), "noise-progress", r->percent);
      return true;
    case WM_NOISE_DONE:
      if (auto* r = message.As<NoiseDoneRecord>()) {
        jobs_->Finish(*r);
        if (r->result != 0) {
          ShowFailed(r->itemId);
        } else if (QWidget* row = FindRow(r->itemId)) {
          SetRowProgress(row, "noise-progress", 100);
          SetMouseEnabled(row->findChild<QWidget*>("noiseBtn"), true);
        }
      }
      return true;
    default:
      return false;
  }
}

}  // namespace tw
