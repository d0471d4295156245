// The cut page ("audio-cut"): load one file, choose a stretch on the waveform, add cut entries and export them.
// Window thread only.
#pragma once

#include "ui/pages/Page.h"

namespace tw {

class CutPage : public Page {
 public:
  explicit CutPage(PageContext& context) : Page(context, OperationKind::Cut) {}

  // The page option of the tab bar.
  static constexpr const char* kOptionName = "audio-cut";

  QStringList ControlNames() const override;
  QStringList NotifyNames() const override;
  bool HandleMessage(Message& message) override;

  // A recording from the recorder page's row: it becomes the loaded file, this page is shown and
  // both times start at 0.
  void ReceiveRecording(const FileEntry& recording);
  const FileEntry& CutFile() const { return cutFile_; }

  double LeftTime() const { return leftTime_; }
  double RightTime() const { return rightTime_; }

 protected:
  void AfterTaskDone(const FinishRecord& finish, QWidget* row) override;

 private:
  FileEntry cutFile_;      // the loaded file; empty until one is loaded
  double leftTime_ = -1;   // seconds; -1 until chosen
  double rightTime_ = -1;
};

}  // namespace tw
