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
  float VolumeFactor() const { return volumeFactor_; }

 private:
  float volumeFactor_ = 1.0f;
};

}  // namespace tw
