#include "ui/pages/VolumePage.h"

#include <QCoreApplication>
#include <QLabel>
#include <QSlider>

namespace tw {

QStringList VolumePage::ControlNames() const {
  return {
      "add-volume-file",
      "audio-volume-list",
      "change-volume-slider",
      "volume-label",
      "fade-in",
      "fade-out",
      "fade-in-start",
      "fade-in-duration",
      "fade-out-start",
      "fade-out-duration",
      "all-volume-btn"};
}

QStringList VolumePage::NotifyNames() const {
  return Page::NotifyNames() + QStringList{
      "change-volume-slider",
      "fade-in",
      "fade-out"};
}

QString VolumePage::VolumeLabelText(float factor) {
  const QString text = QString::asprintf("%.2f", factor);
  if (text == "0.00") return QCoreApplication::translate("VolumePage", "静音");
  if (text == "1.00") return QCoreApplication::translate("VolumePage", "1.0倍");
  if (text == "2.00") return QCoreApplication::translate("VolumePage", "2.0倍");
  return text + QCoreApplication::translate("VolumePage", "倍");
}

VolumeOptions VolumePage::CurrentOptions() const {
  VolumeOptions options;
  options.factor = volumeFactor_;
  options.fadeIn = IsChecked("fade-in");
  options.fadeInStart = EditText("fade-in-start").toStdString();
  options.fadeInDuration = EditText("fade-in-duration").toStdString();
  options.fadeOut = IsChecked("fade-out");
  options.fadeOutStart = EditText("fade-out-start").toStdString();
  options.fadeOutDuration = EditText("fade-out-duration").toStdString();
  return options;
}

bool VolumePage::Notify(const QString& type, QObject* sender) {
  if (Page::Notify(type, sender)) return true;
  const QString name = sender->objectName();
  if (type == "valuechanged" && name == "change-volume-slider") {
    if (auto* slider = qobject_cast<QSlider*>(sender)) volumeFactor_ = static_cast<float>(slider->value() / 100.0);
    if (auto* label = Ctl<QLabel>("volume-label")) label->setText(VolumeLabelText(volumeFactor_));
    return true;
  }
  if (type == "click" && name == "volumeBtn") {
    PressRow(sender);
    return true;
  }
  // The fade check boxes are read when a run starts.
  return name == "fade-in" || name == "fade-out";
}

Page::RowBuild VolumePage::RowBuilder() const {
  return [options = CurrentOptions()](const FileEntry& entry, const CommandContext& context) {
    return BuildVolumeCommand(entry, options, context);
  };
}

}  // namespace tw
