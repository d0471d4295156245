// The convert page ("audio-convert"): the list run through the queue, one conversion at a time
// unless "parallel-jobs" says more, and its format options. Window thread only.
#pragma once

#include "tasks/Commands.h"
#include "ui/pages/Page.h"

namespace tw {

class ConvertPage : public Page {
 public:
  explicit ConvertPage(PageContext& context) : Page(context, OperationKind::Convert) {}

  // The page option of the tab bar.
  static constexpr const char* kOptionName = "audio-convert";

  QStringList ControlNames() const override;
  QStringList NotifyNames() const override;
  // Hands the current choices to the queue and starts its worker.
  void Init() override;
  bool Notify(const QString& type, QObject* sender) override;
  bool HandleMessage(Message& message) override;
  // "all-convert-btn": every row is queued (a running one again), as the design has it.
  void RunAll() override;
  const char* RunAllButtonName() const override { return "all-convert-btn"; }

  // The four choices as they stand now.
  ConvertOptions CurrentOptions() const;

 protected:
  // The queue builds a convert task with the choices of its start.
  RowJob MakeRowJob(int taskId, const FileEntry& entry) override;
  bool StartsAtOnce() const override { return false; }
  // A failed row offers the retry ("压 缩").
  void ShowFailed(int taskId, FailureReason reason, const QString& details) override;
  QString RunAllBusyText() const override;
  QString RunAllIdleText() const override;
  QString NoRowsText() const override;

 private:
  void ClearList();
};

}  // namespace tw
