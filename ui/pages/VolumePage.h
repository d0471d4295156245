// The volume page ("audio-volume"): the level factor and the fades.
// Window thread only.
#pragma once

#include "ui/pages/Page.h"

namespace tw {

class VolumePage : public Page {
 public:
  explicit VolumePage(PageContext& context) : Page(context, OperationKind::Volume) {}

  // The page option of the tab bar.
  static constexpr const char* kOptionName = "audio-volume";

  QStringList ControlNames() const override;
  QStringList NotifyNames() const override;
  bool Notify(const QString& type, QObject* sender) override;
  float VolumeFactor() const { return volumeFactor_; }
  // "静音" for "0.00", "1.0倍" for "1.00", "2.0倍" for "2.00", otherwise "%.2f" and "倍".
  static QString VolumeLabelText(float factor);
  // The fields as they stand now.
  VolumeOptions CurrentOptions() const;
  const char* RunAllButtonName() const override { return "all-volume-btn"; }

 protected:
  RowBuild RowBuilder() const override;

 private:
  float volumeFactor_ = 1.0f;
};

}  // namespace tw
