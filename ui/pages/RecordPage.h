// The recorder page ("audio-record"): source, levels, quality, start/pause/stop and the recordings list.
// Window thread only.
#pragma once

#include "ui/pages/Page.h"

namespace tw {

class RecordPage : public Page {
 public:
  explicit RecordPage(PageContext& context) : Page(context, OperationKind::Record) {}

  // The page option of the tab bar.
  static constexpr const char* kOptionName = "audio-record";

  QStringList ControlNames() const override;
  QStringList NotifyNames() const override;
  bool HandleMessage(Message& message) override;
};

}  // namespace tw
