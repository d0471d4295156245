// The feedback form "意见反馈": the user's comment ("feedbackContent") and contact
// ("feedbackContact") go to the vendor's service with "feedbackBtn"; "contact-us" opens the
// product's help page. Empty fields are refused in "feedbackErrorTips" before anything is
// sent. The request runs on a thread of its own while the form waits, its fields locked; the
// answer is told in a prompt. After a successful send the form closes; after a failed one it
// stays open with the texts as typed, so nothing is lost. Window thread only.
#pragma once

#include "net/Feedback.h"
#include "ui/dialogs/SkinDialog.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace tw {

class WindowPort;

class FeedbackDialog : public SkinDialog {
  Q_OBJECT
 public:
  explicit FeedbackDialog(QWidget* owner);
  ~FeedbackDialog() override;

  QString GetSkinFile() const override { return QStringLiteral("Feedback.xml"); }
  QString GetWindowClassName() const override { return QStringLiteral("意见反馈"); }

  // Builds, centres and runs the form over owner; 1 after a successful send, 0 otherwise (also
  // when a form is open already, which is raised instead).
  static int Show(QWidget* owner);

  // The prompt text of a send's result.
  static QString ResultText(FeedbackResult result);
  bool Sending() const { return sending_; }

 public slots:
  // Escape closes the form, except while a send is under way.
  void reject() override;

 protected:
  void InitWindow() override;
  void Notify(const QString& type, QObject* sender) override;
  bool event(QEvent* event) override;

 private:
  void Send();
  void OnSent(FeedbackResult result);
  void SetLocked(bool locked);

  WindowPort* port_ = nullptr;
  FeedbackSender sender_;
  bool sending_ = false;
  QPlainTextEdit* content_ = nullptr;
  QLineEdit* contact_ = nullptr;
  QLabel* errorTips_ = nullptr;
  QPushButton* sendButton_ = nullptr;
  QPushButton* contactUs_ = nullptr;
  QPushButton* closeButton_ = nullptr;
  QTimer* focusTimer_ = nullptr;
};

}  // namespace tw
