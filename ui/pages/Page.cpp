#include "ui/pages/Page.h"

#include <glog/logging.h>

#include <QAbstractButton>
#include <QLabel>
#include <QListWidget>

#include "ui/NotifyAdapter.h"

namespace tw {

Page::Page(PageContext& context, OperationKind kind) : ctx_(context), kind_(kind), rows_(FindRowSpec(kind)) {}

QStringList Page::NotifyNames() const {
  QStringList names;
  if (rows_) {
    if (*rows_->actionButton) names << rows_->actionButton;
    names << rows_->menuButton;
  }
  return names;
}

QStringList Page::Bind(QWidget* root) {
  QStringList missing;
  controls_.clear();
  for (const QString& name : ControlNames()) {
    QWidget* w = FindControl(root, name);
    if (w)
      controls_.insert(name, w);
    else
      missing << name;
  }
  if (rows_) list_ = Ctl<QListWidget>(rows_->listName);
  if (rows_ && !list_ && !missing.contains(rows_->listName)) missing << rows_->listName;
  return missing;
}

bool Page::Notify(const QString&, QObject*) { return false; }

bool Page::HandleMessage(Message&) { return false; }

QWidget* Page::AddRow(int taskId, const QString& fileName, const QString& sizeText, const QString& durationText) {
  if (!rows_ || !list_) return nullptr;
  QString error;
  QWidget* row = MakeRow(*rows_, taskId, ctx_.notify, &error);
  if (!row) {
    LOG(ERROR) << "row layout: " << error.toStdString();
    return nullptr;
  }
  SetRowTexts(row, fileName, sizeText, durationText);
  AppendRow(list_, row);
  return row;
}

QWidget* Page::FindRow(int taskId) const { return tw::FindRow(list_, taskId); }

int Page::ProgressPercent(const ProgressRecord& progress) const {
  return TaskPercent(progress.positionMs, progress.durationMs);
}

void Page::OnTaskProgress(const ProgressRecord& progress) {
  QWidget* row = FindRow(progress.taskId);
  if (!row || !rows_ || !*rows_->progressName) return;
  SetRowProgress(row, rows_->progressName, ProgressPercent(progress));
}

void Page::OnTaskDone(const FinishRecord& finish) {
  LOG(INFO) << "seq: " << finish.taskId;
  QWidget* row = FindRow(finish.taskId);
  if (row && rows_) {
    if (*rows_->actionButton) SetMouseEnabled(row->findChild<QWidget*>(rows_->actionButton), true);
    if (*rows_->progressName) SetRowProgress(row, rows_->progressName, 100);
  }
  AfterTaskDone(finish, row);
}

void Page::AfterTaskDone(const FinishRecord&, QWidget*) {}

// A failed run lets the row's button take clicks again, so the user can retry, and says so
// in the row's label; the progress bar stays where the run stopped.
void Page::OnTaskFailed(const FailureRecord& failure) {
  QWidget* row = FindRow(failure.taskId);
  if (!row || !rows_) return;
  if (*rows_->actionButton) SetMouseEnabled(row->findChild<QWidget*>(rows_->actionButton), true);
  if (auto* label = row->findChild<QLabel*>("progress-label")) label->setText(QStringLiteral("失败"));
}

}  // namespace tw
