#include "ui/pages/RecordPage.h"

#include <QLabel>

#include "app/MediaHelpers.h"
#include "app/Messages.h"

namespace tw {

QStringList RecordPage::ControlNames() const {
  return {
      "recorder-origin-all",
      "recorder-origin-microphone",
      "recorder-origin-system",
      "recorder-progress",
      "recorder-start",
      "recorder-pause",
      "recorder-stop",
      "record-audio-quality",
      "mic-volume-slider",
      "mic-volume-label",
      "sys-volume-slider",
      "sys-volume-label",
      "agc-check",
      "mic-strengthen-slider",
      "mic-strengthen-label",
      "noise-check",
      "audio-record-list"};
}

QStringList RecordPage::NotifyNames() const {
  return Page::NotifyNames() + QStringList{
      "recorder-origin-all",
      "recorder-origin-microphone",
      "recorder-origin-system",
      "recorder-start",
      "recorder-pause",
      "recorder-stop",
      "mic-volume-slider",
      "sys-volume-slider",
      "mic-strengthen-slider",
      "agc-check",
      "noise-check"};
}

bool RecordPage::HandleMessage(Message& message) {
  if (message.id != WM_RECORD_TIME) return false;
  if (auto* label = Ctl<QLabel>("recorder-progress"))
    label->setText(QString::fromStdString(FormatDuration(static_cast<double>(message.param))));
  return true;
}

}  // namespace tw
