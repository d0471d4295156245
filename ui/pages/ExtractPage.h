// The extract page ("audio-extract"): the sound track of a video, or the accompaniment.
// Window thread only.
#pragma once

#include "ui/pages/Page.h"

namespace tw {

class ExtractPage : public Page {
 public:
  explicit ExtractPage(PageContext& context) : Page(context, OperationKind::Extract) {}

  // The page option of the tab bar.
  static constexpr const char* kOptionName = "audio-extract";

  QStringList ControlNames() const override;
  QStringList NotifyNames() const override;
  void Init() override;
  bool Notify(const QString& type, QObject* sender) override;
  const char* RunAllButtonName() const override { return "all-extract-btn"; }

 protected:
  RowBuild RowBuilder() const override;
};

}  // namespace tw
