// The merge page ("audio-merge"): the ordered list joined into one file, with the page's own progress.
// Window thread only.
#pragma once

#include "ui/pages/Page.h"

namespace tw {

class MergePage : public Page {
 public:
  explicit MergePage(PageContext& context) : Page(context, OperationKind::Merge) {}

  // The page option of the tab bar.
  static constexpr const char* kOptionName = "audio-merge";

  QStringList ControlNames() const override;
  QStringList NotifyNames() const override;
  bool Notify(const QString& type, QObject* sender) override;
  void OnTaskProgress(const ProgressRecord& progress) override;
  void OnTaskDone(const FinishRecord& finish) override;
  void OnTaskFailed(const FailureRecord& failure) override;

  // The sum of the merged files' durations, set when a merge starts.
  void SetMergeTotal(double seconds) { mergeTotalSeconds_ = seconds; }
  double MergeTotal() const { return mergeTotalSeconds_; }

 private:
  void StartMerge();
  // Swaps the files of the row of taskId and its neighbour (step -1 above, +1 below).
  void MoveRow(int taskId, int step);
  void RefreshRow(int taskId);

  double mergeTotalSeconds_ = 0;
};

}  // namespace tw
