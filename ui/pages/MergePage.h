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
  void Init() override;
  bool Notify(const QString& type, QObject* sender) override;
  void OnTaskProgress(const ProgressRecord& progress) override;

  // The sum of the merged files' durations, set when a merge starts.
  void SetMergeTotal(double seconds) { mergeTotalSeconds_ = seconds; }
  double MergeTotal() const { return mergeTotalSeconds_; }

 protected:
  // The merge is one job of the page (kMergeTaskId): "merge-btn" offers its cancel while it
  // runs, "merge-progress-label" says how far, why it failed or that it was cancelled.
  void ShowRunning(int taskId) override;
  void ShowWaiting(int taskId) override;
  void ShowDone(int taskId) override;
  void ShowFailed(int taskId, FailureReason reason, const QString& details) override;
  void ShowCancelled(int taskId) override;
  QWidget* ActionButtonOf(int) const override { return Control("merge-btn"); }

 private:
  void StartMerge();
  // Swaps the files of the row of taskId and its neighbour (step -1 above, +1 below).
  void MoveRow(int taskId, int step);
  void RefreshRow(int taskId);

  double mergeTotalSeconds_ = 0;
};

}  // namespace tw
