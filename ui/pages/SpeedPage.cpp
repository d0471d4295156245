#include "ui/pages/SpeedPage.h"

#include <glog/logging.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QSlider>
#include <cmath>

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
      "speed-label",
      "all-speed-btn"};
}

QStringList SpeedPage::NotifyNames() const {
  return Page::NotifyNames() + QStringList{
      "speed-0-5",
      "speed-0-7-5",
      "speed-1-0",
      "speed-1-2-5",
      "speed-1-5",
      "speed-2-0",
      "speed-check",
      "change-speed-slider"};
}

namespace {
const std::pair<const char*, const char*> kPresets[] = {
    {"speed-0-5", "0.5"}, {"speed-0-7-5", "0.75"}, {"speed-1-0", "1.0"},
    {"speed-1-2-5", "1.25"}, {"speed-1-5", "1.5"}, {"speed-2-0", "2.0"},
};
}  // namespace

void SpeedPage::Init() {
  auto* slider = Ctl<QSlider>("change-speed-slider");
  auto* custom = Ctl<QAbstractButton>("speed-check");
  if (!slider || !custom) return;
  // Only a move by the user (mouse, keys, wheel) means a speed of one's own.
  QObject::connect(slider, &QAbstractSlider::actionTriggered, custom, [custom](int) {
    if (!custom->isChecked()) custom->setChecked(true);
  });
}

void SpeedPage::HighlightPreset(const QString& speed) {
  for (const auto& [option, value] : kPresets) {
    auto* button = Ctl<QAbstractButton>(option);
    if (!button) continue;
    const bool on = speed == QLatin1String(value);
    if (button->isChecked() == on) continue;
    // An exclusive group cannot be emptied by unchecking its checked button alone.
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(on);
    button->setAutoExclusive(exclusive);
  }
}

QString SpeedPage::SpeedLabelText(const QString& sliderText) {
  if (sliderText == "1.00") return QCoreApplication::translate("SpeedPage", "1.0倍");
  if (sliderText == "2.00") return QCoreApplication::translate("SpeedPage", "2.0倍");
  return sliderText + QCoreApplication::translate("SpeedPage", "倍");
}

bool SpeedPage::Notify(const QString& type, QObject* sender) {
  if (Page::Notify(type, sender)) return true;
  const QString name = sender->objectName();
  if (type == "selectchanged") {
    if (name == "speed-check") {
      const bool custom = IsChecked("speed-check");
      speedText_ = custom ? sliderSpeed_ : lastPresetSpeed_;
      HighlightPreset(custom ? QString() : lastPresetSpeed_);
      if (!custom) {
        if (auto* slider = Ctl<QSlider>("change-speed-slider"))
          slider->setValue(static_cast<int>(std::lround(lastPresetSpeed_.toDouble() * 100)));
      }
      return true;
    }
    for (const auto& [option, value] : kPresets) {
      if (name != option) continue;
      if (auto* button = qobject_cast<QAbstractButton*>(sender); button && !button->isChecked()) return true;
      speedText_ = lastPresetSpeed_ = QString::fromLatin1(value);
      if (auto* custom = Ctl<QAbstractButton>("speed-check"); custom && custom->isChecked())
        custom->setChecked(false);  // its notification moves the slider to the preset
      else if (auto* slider = Ctl<QSlider>("change-speed-slider"))
        slider->setValue(static_cast<int>(std::lround(speedText_.toDouble() * 100)));
      return true;
    }
    return false;
  }
  if (type == "valuechanged" && name == "change-speed-slider") {
    if (auto* slider = qobject_cast<QSlider*>(sender)) OnSliderChanged(slider->value());
    return true;
  }
  if (type == "click" && name == "speedBtn") {
    PressRow(sender);
    return true;
  }
  return false;
}

Page::RowBuild SpeedPage::RowBuilder() const {
  return [speed = speedText_.toStdString()](const FileEntry& entry, const CommandContext& context) {
    return BuildSpeedCommand(entry, speed, context);
  };
}

Page::RowJob SpeedPage::MakeRowJob(int taskId, const FileEntry& entry) {
  RowJob job = Page::MakeRowJob(taskId, entry);
  if (job.ok) runFactors_[taskId] = speedText_.toDouble();
  return job;
}

void SpeedPage::AfterJobOver(int taskId) { runFactors_.erase(taskId); }

void SpeedPage::OnSliderChanged(int value) {
  const QString text = QString::asprintf("%.2f", value / 100.0);
  if (auto* label = Ctl<QLabel>("speed-label")) label->setText(SpeedLabelText(text));
  if (IsChecked("speed-check")) speedText_ = text;
  sliderSpeed_ = text;
}

int SpeedPage::ProgressPercent(const ProgressRecord& progress) const {
  const auto run = runFactors_.find(progress.taskId);
  const double factor = run != runFactors_.end() ? run->second : speedText_.toDouble();
  const int percent = SpeedPercent(progress.positionMs, progress.durationMs, factor);
  LOG(INFO) << "pos:" << progress.positionMs << " duration:" << progress.durationMs << " percent: " << percent;
  return percent;
}

}  // namespace tw
