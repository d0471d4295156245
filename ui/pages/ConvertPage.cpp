#include "ui/pages/ConvertPage.h"

#include <QAbstractButton>
#include <QCoreApplication>

#include "app/Messages.h"
#include "tasks/ConvertQueue.h"
#include "ui/Translator.h"
#include "ui/pages/FileList.h"

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
      "clear-convert-list-btn",
      "open-convert-dir-btn",
      "audio-convert-format",
      "audio-channel",
      "audio-sample-rate",
      "audio-bitrate"};
}

void ConvertPage::Init() {
  OfferWritableFormats("audio-convert-format", true);
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
    PressRow(sender);
  } else if (name == "clear-convert-list-btn") {
    ClearList();
  } else if (name == "open-convert-dir-btn") {
    OpenOutputFolder();
  } else {
    return false;
  }
  return true;
}

Page::RowJob ConvertPage::MakeRowJob(int, const FileEntry&) {
  RowJob job;
  job.ok = true;
  return job;
}

void ConvertPage::RunAll() {
  if (!ctx_.queue) return;
  std::vector<int> ids;
  for (int i = 0; i < RowCount(List()); ++i) ids.push_back(GetTag(RowAt(List(), i)));
  // A running row keeps its look: it is converted once more after it ends.
  std::vector<int> idle;
  for (int id : ids)
    if (!RowHeld(id)) idle.push_back(id);
  const std::string refusal = ctx_.queue->EnqueueAll(ids);
  if (!refusal.empty()) {
    Prompt(QString::fromStdString(refusal));
    return;
  }
  for (int id : idle) ShowWaiting(id);
  if (auto* button = Ctl<QAbstractButton>("all-convert-btn")) {
    SetMouseEnabled(button, false);
    button->setText(RunAllBusyText());
  }
}

QString ConvertPage::RunAllBusyText() const { return CoreText("ConvertQueue", kAllConvertBusyText); }
QString ConvertPage::RunAllIdleText() const { return CoreText("ConvertQueue", kAllConvertIdleText); }
QString ConvertPage::NoRowsText() const { return CoreText("ConvertQueue", kMsgConvertNoFiles); }

void ConvertPage::ClearList() {
  if (ctx_.queue && !ctx_.queue->Idle(OperationKind::Convert)) {
    Prompt(QCoreApplication::translate("ConvertPage", "正在处理中!"));
    return;
  }
  RemoveAllRows(List());
}

bool ConvertPage::HandleMessage(Message&) { return false; }

void ConvertPage::ShowFailed(int taskId, FailureReason reason, const QString& details) {
  if (const RowSpec* spec = Rows())
    ShowRowFailed(FindRow(taskId), *spec, CoreText("FailureReason", ReasonText(reason)), details,
                  CoreText("ConvertQueue", kConvertRetryText));
}

}  // namespace tw
