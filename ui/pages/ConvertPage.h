// The convert page ("audio-convert"): the list run through the convert queue and its format options.
// Window thread only.
#pragma once

#include "ui/pages/Page.h"

namespace tw {

class ConvertPage : public Page {
 public:
  explicit ConvertPage(PageContext& context) : Page(context, OperationKind::Convert) {}

  // The page option of the tab bar.
  static constexpr const char* kOptionName = "audio-convert";

  QStringList ControlNames() const override;
  QStringList NotifyNames() const override;
  bool HandleMessage(Message& message) override;
  void OnTaskFailed(const FailureRecord& failure) override;

 protected:
  void AfterTaskDone(const FinishRecord& finish, QWidget* row) override;

 private:
  // Hands a finished or failed task back to the convert queue, which then starts the next one.
  void CompleteTask(int taskId, bool success);
};

}  // namespace tw
