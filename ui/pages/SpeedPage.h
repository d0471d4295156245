// The change-speed page ("audio-change-speed"): the preset speeds, the slider speed and the list.
// What is shown is the speed in effect: a chosen preset moves the slider to its speed and
// clears "speed-check"; with "speed-check" selected no preset is highlighted; moving the slider
// by hand selects "speed-check". Window thread only.
#pragma once

#include <map>

#include "ui/pages/Page.h"

namespace tw {

class SpeedPage : public Page {
 public:
  explicit SpeedPage(PageContext& context) : Page(context, OperationKind::Speed) {}

  // The page option of the tab bar.
  static constexpr const char* kOptionName = "audio-change-speed";

  QStringList ControlNames() const override;
  QStringList NotifyNames() const override;
  void Init() override;
  bool Notify(const QString& type, QObject* sender) override;
  // "1.0倍" for "1.00", "2.0倍" for "2.00", otherwise the text followed by "倍".
  static QString SpeedLabelText(const QString& sliderText);
  // The factor handed to the change-speed command ("1.0" at start).
  const QString& SpeedText() const { return speedText_; }
  void SetSpeedText(const QString& text) { speedText_ = text; }
  const char* RunAllButtonName() const override { return "all-speed-btn"; }

 protected:
  // Against the factor the row's run was started with, whatever is chosen now.
  int ProgressPercent(const ProgressRecord& progress) const override;
  RowBuild RowBuilder() const override;
  // Notes the factor of the row's job.
  RowJob MakeRowJob(int taskId, const FileEntry& entry) override;
  void AfterJobOver(int taskId) override;

 private:
  void OnSliderChanged(int value);
  // Highlights the preset of speed, or none when speed is empty.
  void HighlightPreset(const QString& speed);

  std::map<int, double> runFactors_;  // task id -> speed factor of its held job

  QString speedText_ = QStringLiteral("1.0");
  QString lastPresetSpeed_ = QStringLiteral("1.0");
  QString sliderSpeed_ = QStringLiteral("1.0");
};

}  // namespace tw
