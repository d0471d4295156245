#include "ui/pages/MergePage.h"

#include <glog/logging.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <algorithm>

#include "app/MediaHelpers.h"
#include "ui/ElidedText.h"
#include "ui/Translator.h"
#include "ui/pages/FileList.h"

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
      "clear-merge-list-btn",
      "open-merge-dir-btn",
      "merge-open-dir-btn",
      "merge-btn",
      "moveUpBtn",
      "moveDownBtn"};
}

void MergePage::Init() {
  OfferWritableFormats("audio-merge-format", false);
}

bool MergePage::Notify(const QString& type, QObject* sender) {
  if (Page::Notify(type, sender)) return true;
  if (type != "click") return false;
  const QString name = sender->objectName();
  if (name == "merge-btn") {
    StartMerge();
  } else if (name == "clear-merge-list-btn") {
    RemoveAllRows(List());
  } else if (name == "open-merge-dir-btn" || name == "merge-open-dir-btn") {
    OpenOutputFolder();
  } else if (name == "moveUpBtn") {
    MoveRow(GetTag(sender), -1);
  } else if (name == "moveDownBtn") {
    MoveRow(GetTag(sender), +1);
  } else {
    return false;
  }
  return true;
}

void MergePage::StartMerge() {
  if (!ctx_.tasks || !ctx_.queue) return;
  if (RowHeld(kMergeTaskId)) {
    CancelRow(kMergeTaskId);
    return;
  }
  std::vector<FileEntry> entries;
  for (int i = 0; i < RowCount(List()); ++i) entries.push_back(ctx_.tasks->Lookup(GetTag(RowAt(List(), i))));
  const std::string format = ComboText("audio-merge-format").toStdString();
  const BuiltCommand built = BuildMergeCommand(entries, format, CurrentCommandContext());
  if (!built.ok) {
    Prompt(QString::fromStdString(built.message));
    return;
  }
  mergeTotalSeconds_ = built.totalSeconds;
  LOG(INFO) << "appPath: " << ProgramFolder();
  const bool now = ctx_.queue->SlotFree();
  ctx_.queue->Enqueue(KeyOf(kMergeTaskId),
                      MakeTranscoderStarter(KeyOf(kMergeTaskId), ctx_.sink,
                                            [entries, format](const CommandContext& context) {
                                              return BuildMergeCommand(entries, format, context);
                                            }),
                      true);
  ShowQueued(kMergeTaskId, now);
}

void MergePage::MoveRow(int taskId, int step) {
  if (!ctx_.tasks) return;
  const int index = RowIndex(List(), taskId);
  const int other = index + step;
  if (index < 0 || other < 0 || other >= RowCount(List())) return;
  const int otherId = GetTag(RowAt(List(), other));
  const FileEntry mine = ctx_.tasks->Lookup(taskId);
  const FileEntry theirs = ctx_.tasks->Lookup(otherId);
  // The files change places; the rows and their tags stay, and the merge takes the rows in
  // list order.
  ctx_.tasks->Set(taskId, theirs);
  ctx_.tasks->Set(otherId, mine);
  RefreshRow(taskId);
  RefreshRow(otherId);
}

void MergePage::RefreshRow(int taskId) {
  const FileEntry entry = ctx_.tasks->Lookup(taskId);
  SetRowTexts(FindRow(taskId), QString::fromStdString(entry.fileName),
              QString::fromStdString(FormatFileSize(entry.size)),
              QString::fromStdString(FormatDuration(ProbeDuration(entry.fullPath))),
              QString::fromStdString(entry.fullPath));
}

void MergePage::OnTaskProgress(const ProgressRecord& progress) {
  const int percent = MergePercent(progress.positionMs, mergeTotalSeconds_);
  if (auto* bar = Ctl<QProgressBar>("merge-progress")) bar->setValue(std::clamp(percent, 0, 100));
  if (auto* label = Ctl<QLabel>("merge-progress-label")) label->setText(PercentText(percent));
}

namespace {
void SetMergeLook(QWidget* button, QLabel* label, const QString& buttonText, const QString& labelText,
                  const QString& tip = QString()) {
  if (auto* b = qobject_cast<QAbstractButton*>(button)) {
    if (!b->property("ownText").isValid()) b->setProperty("ownText", b->text());
    b->setText(buttonText.isEmpty() ? b->property("ownText").toString() : buttonText);
    SetMouseEnabled(b, true);
  }
  if (label) {
    label->setText(labelText);
    label->setToolTip(PlainToolTip(tip));
  }
}
}  // namespace

void MergePage::ShowRunning(int) {
  if (auto* bar = Ctl<QProgressBar>("merge-progress")) bar->setValue(0);
  SetMergeLook(Control("merge-btn"), Ctl<QLabel>("merge-progress-label"),
               QCoreApplication::translate("ListRows", kRowCancelText), PercentText(0));
}

void MergePage::ShowWaiting(int) {
  if (auto* bar = Ctl<QProgressBar>("merge-progress")) bar->setValue(0);
  SetMergeLook(Control("merge-btn"), Ctl<QLabel>("merge-progress-label"),
               QCoreApplication::translate("ListRows", kRowCancelText),
               QCoreApplication::translate("ListRows", kRowWaitingText));
}

void MergePage::ShowDone(int) {
  if (auto* bar = Ctl<QProgressBar>("merge-progress")) bar->setValue(100);
  SetMergeLook(Control("merge-btn"), Ctl<QLabel>("merge-progress-label"), QString(), PercentText(100));
}

void MergePage::ShowFailed(int, FailureReason reason, const QString& details) {
  SetMergeLook(Control("merge-btn"), Ctl<QLabel>("merge-progress-label"), QString(),
               CoreText("FailureReason", ReasonText(reason)), details);
}

void MergePage::ShowCancelled(int) {
  if (auto* bar = Ctl<QProgressBar>("merge-progress")) bar->setValue(0);
  SetMergeLook(Control("merge-btn"), Ctl<QLabel>("merge-progress-label"), QString(),
               CoreText("FailureReason", ReasonText(FailureReason::Cancelled)));
}

}  // namespace tw
