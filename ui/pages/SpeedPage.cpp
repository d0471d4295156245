#include "ui/pages/SpeedPage.h"

#include <glog/logging.h>

namespace tw {

QStringList SpeedPage::ControlNames() const {
  return {
      "add-speed-file",
      "audio-speed-list",
      "speed-0-5",
      "speed-0-7-5",
      "speed-1-0",
      "speed-1-2-5",
      "speed-1-5",
      "speed-2-0",
      "speed-check",
      "change-speed-slider",
      "speed-label"};
}

QStringList SpeedPage::NotifyNames() const {
  return Page::NotifyNames() + QStringList{
      "add-speed-file",
      "speed-0-5",
      "speed-0-7-5",
      "speed-1-0",
      "speed-1-2-5",
      "speed-1-5",
      "speed-2-0",
      "speed-check",
      "change-speed-slider"};
}

int SpeedPage::ProgressPercent(const ProgressRecord& progress) const {
  const int percent = SpeedPercent(progress.positionMs, progress.durationMs, speedText_.toDouble());
  LOG(INFO) << "pos:" << progress.positionMs << " duration:" << progress.durationMs << " percent: " << percent;
  return percent;
}

}  // namespace tw
