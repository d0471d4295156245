#include "ui/pages/MergePage.h"

#include <QAbstractButton>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>

#include <glog/logging.h>

namespace tw {

QStringList MergePage::ControlNames() const {
  return {
      "add-merge-file",
      "audio-merge-list",
      "clear-merge-list-btn",
      "open-merge-dir-btn",
      "merge-open-dir-btn",
      "audio-merge-format",
      "merge-btn",
      "merge-progress",
      "merge-progress-label"};
}

QStringList MergePage::NotifyNames() const {
  return Page::NotifyNames() + QStringList{
      "add-merge-file",
      "clear-merge-list-btn",
      "open-merge-dir-btn",
      "merge-open-dir-btn",
      "merge-btn",
      "moveUpBtn",
      "moveDownBtn"};
}

void MergePage::OnTaskProgress(const ProgressRecord& progress) {
  const int percent = MergePercent(progress.positionMs, mergeTotalSeconds_);
  if (auto* bar = Ctl<QProgressBar>("merge-progress")) bar->setValue(std::clamp(percent, 0, 100));
  if (auto* label = Ctl<QLabel>("merge-progress-label")) label->setText(PercentText(percent));
}

void MergePage::OnTaskDone(const FinishRecord& finish) {
  LOG(INFO) << "seq: " << finish.taskId;
  SetMouseEnabled(Control("merge-btn"), true);
  if (auto* bar = Ctl<QProgressBar>("merge-progress")) bar->setValue(100);
  if (auto* label = Ctl<QLabel>("merge-progress-label")) label->setText(PercentText(100));
}

// As on the rows: the button takes clicks again and the label says the run failed.
void MergePage::OnTaskFailed(const FailureRecord&) {
  SetMouseEnabled(Control("merge-btn"), true);
  if (auto* label = Ctl<QLabel>("merge-progress-label")) label->setText(QStringLiteral("失败"));
}

}  // namespace tw
