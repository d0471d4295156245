// The convert page ("audio-convert"): the list run through the convert queue and its format options.
// Window thread only.
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
  void OnTaskFailed(const FailureRecord& failure) override;
  // The row leaves the queue; its running conversion ends.
  void EndRowWork(int taskId) override;

  // The four choices as they stand now.
  ConvertOptions CurrentOptions() const;

 protected:
  void AfterTaskDone(const FinishRecord& finish, QWidget* row) override;

 private:
  void ConvertOne(QObject* button);
  void ConvertAll();
  void ClearList();
  // Hands a finished or failed task back to the convert queue, which then starts the next one.
  void CompleteTask(int taskId, bool success);
  // "all-convert-btn" takes clicks again and reads kAllConvertIdleText.
  void RestoreAllButton();
};

}  // namespace tw
