#include "ui/pages/ConvertPage.h"

#include <QAbstractButton>
#include <QLabel>
#include <QProgressBar>

#include "app/Messages.h"
#include "tasks/ConvertQueue.h"
#include "ui/pages/FileList.h"

namespace tw {
namespace {

// The row button's own text, kept while it shows the failure text.
constexpr const char* kTextBeforeFailure = "textBeforeFailure";

}  // namespace

QStringList ConvertPage::ControlNames() const {
  return {
      "add-convert-file",
      "audio-convert-list",
      "clear-convert-list-btn",
      "open-convert-dir-btn",
      "all-convert-btn",
      "audio-convert-format",
      "audio-channel",
      "audio-sample-rate",
      "audio-bitrate"};
}

QStringList ConvertPage::NotifyNames() const {
  return Page::NotifyNames() + QStringList{
      "clear-convert-list-btn",
      "open-convert-dir-btn",
      "all-convert-btn",
      "audio-convert-format",
      "audio-channel",
      "audio-sample-rate",
      "audio-bitrate"};
}

void ConvertPage::Init() {
  if (!ctx_.queue) return;
  ctx_.queue->SetOptions(CurrentOptions());
  ctx_.queue->Start();
}

ConvertOptions ConvertPage::CurrentOptions() const {
  ConvertOptions options;
  options.format = ComboText("audio-convert-format").toStdString();
  options.channelIndex = ComboIndex("audio-channel");
  options.sampleRateIndex = ComboIndex("audio-sample-rate");
  options.bitRateIndex = ComboIndex("audio-bitrate");
  return options;
}

bool ConvertPage::Notify(const QString& type, QObject* sender) {
  if (Page::Notify(type, sender)) return true;
  const QString name = sender->objectName();
  if (type == "itemselect") {
    // The worker reads the choices when a task starts, so waiting tasks get the new ones.
    if (ctx_.queue) ctx_.queue->SetOptions(CurrentOptions());
    return true;
  }
  if (type != "click") return false;
  if (name == "convertBtn") {
    ConvertOne(sender);
  } else if (name == "all-convert-btn") {
    ConvertAll();
  } else if (name == "clear-convert-list-btn") {
    ClearList();
  } else if (name == "open-convert-dir-btn") {
    OpenOutputFolder();
  } else {
    return false;
  }
  return true;
}

void ConvertPage::ConvertOne(QObject* button) {
  if (!ctx_.queue) return;
  SetMouseEnabled(qobject_cast<QWidget*>(button), false);
  ctx_.queue->EnqueueOne(GetTag(button));
}

void ConvertPage::ConvertAll() {
  if (!ctx_.queue) return;
  std::vector<int> ids;
  for (int i = 0; i < RowCount(List()); ++i) ids.push_back(GetTag(RowAt(List(), i)));
  const std::string refusal = ctx_.queue->EnqueueAll(ids);
  if (!refusal.empty()) {
    Prompt(QString::fromStdString(refusal));
    return;
  }
  if (auto* button = Ctl<QAbstractButton>("all-convert-btn")) {
    SetMouseEnabled(button, false);
    button->setText(QString::fromUtf8(kAllConvertBusyText));
  }
}

void ConvertPage::ClearList() {
  if (ctx_.queue && (!ctx_.queue->IdleTasks().empty() || !ctx_.queue->BusyTasks().empty())) {
    Prompt(QStringLiteral("正在处理中!"));
    return;
  }
  RemoveAllRows(List());
}

bool ConvertPage::HandleMessage(Message& message) {
  if (message.id != WM_CONVERT_ROW_REQUEST) return false;
  auto* request = message.As<RowRequestRecord>();
  QWidget* row = request ? FindRow(request->taskId) : nullptr;
  if (!row) return true;
  switch (request->action) {
    case RowRequestRecord::Action::ShowProgress: {
      QWidget* container = row->findChild<QWidget*>("progress-container");
      if (container && container->isHidden()) {
        container->show();
        if (QWidget* w = row->findChild<QWidget*>("progress-label")) w->show();
        if (QWidget* w = row->findChild<QWidget*>("errorLabel")) w->hide();
      }
      // A retry after a failure: the button reads as it did before the failure.
      if (auto* button = row->findChild<QAbstractButton*>("convertBtn")) {
        const QVariant before = button->property(kTextBeforeFailure);
        if (before.isValid()) {
          button->setText(before.toString());
          button->setProperty(kTextBeforeFailure, QVariant());
        }
      }
      break;
    }
    case RowRequestRecord::Action::ResetProgress:
      if (auto* bar = row->findChild<QProgressBar*>("convert-progress")) bar->setValue(0);
      if (auto* label = row->findChild<QLabel*>("progress-label")) label->setText(PercentText(0));
      SetMouseEnabled(row->findChild<QWidget*>("convertBtn"), false);
      break;
  }
  return true;
}

void ConvertPage::OnTaskFailed(const FailureRecord& failure) {
  if (QWidget* row = FindRow(failure.taskId)) {
    if (QWidget* w = row->findChild<QWidget*>("progress-container")) w->hide();
    if (QWidget* w = row->findChild<QWidget*>("progress-label")) w->hide();
    if (QWidget* w = row->findChild<QWidget*>("errorLabel")) w->show();
    if (auto* button = row->findChild<QAbstractButton*>("convertBtn")) {
      if (!button->property(kTextBeforeFailure).isValid()) button->setProperty(kTextBeforeFailure, button->text());
      button->setText(QString::fromUtf8(kConvertRetryText));
      SetMouseEnabled(button, true);
    }
  }
  CompleteTask(failure.taskId, false);
}

void ConvertPage::AfterTaskDone(const FinishRecord& finish, QWidget*) { CompleteTask(finish.taskId, true); }

void ConvertPage::CompleteTask(int taskId, bool success) {
  if (!ctx_.queue) return;
  const CompletionResult result = ctx_.queue->Complete(taskId, success);
  // Also after a failure: an emptied queue lets "all-convert-btn" take clicks again, so the
  // user can try once more.
  if (result.queueIdle) RestoreAllButton();
}

void ConvertPage::RestoreAllButton() {
  if (auto* button = Ctl<QAbstractButton>("all-convert-btn")) {
    SetMouseEnabled(button, true);
    button->setText(QString::fromUtf8(kAllConvertIdleText));
  }
}

void ConvertPage::EndRowWork(int taskId) {
  if (!ctx_.queue) return;
  ctx_.queue->Drop(taskId);
  // The last waiting row went with nothing running: no completion will restore the button.
  if (ctx_.queue->IdleTasks().empty() && ctx_.queue->BusyTasks().empty()) RestoreAllButton();
}

}  // namespace tw
