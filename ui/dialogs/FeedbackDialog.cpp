#include "ui/dialogs/FeedbackDialog.h"

#include <glog/logging.h>

#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include "app/Messages.h"
#include "net/VendorService.h"
#include "ui/MessageEvent.h"
#include "ui/dialogs/PromptBoxDialog.h"

namespace tw {
namespace {

constexpr int kFocusTimerMs = 100;

}  // namespace

FeedbackDialog::FeedbackDialog(QWidget* owner) : SkinDialog(owner, QString()) {
  port_ = WindowPort::Create();
  port_->Attach(this);
}

FeedbackDialog::~FeedbackDialog() {
  port_->Detach();
}  // sender_ then joins a send still running

int FeedbackDialog::Show(QWidget* owner) {
  // One form at a time: asking again (menu and title bar) brings the open one forward.
  static QPointer<FeedbackDialog> open;
  if (open) {
    open->raise();
    open->activateWindow();
    return 0;
  }
  auto* dialog = new FeedbackDialog(owner);
  open = dialog;
  return CreateAndShowModal(dialog);
}

QString FeedbackDialog::ResultText(FeedbackResult result) {
  switch (result) {
    case FeedbackResult::kSent:
      return tr("反馈信息已提交!");
    case FeedbackResult::kRefused:
      return tr("未知错误");
    case FeedbackResult::kNetworkError:
      break;
  }
  return tr("网络错误!");
}

void FeedbackDialog::InitWindow() {
  content_ = Require<QPlainTextEdit>("feedbackContent");
  contact_ = Require<QLineEdit>("feedbackContact");
  errorTips_ = Require<QLabel>("feedbackErrorTips");
  sendButton_ = Require<QPushButton>("feedbackBtn");
  contactUs_ = Require<QPushButton>("contact-us");
  closeButton_ = form_->findChild<QPushButton*>("closebtn");  // optional in a skin
  setWindowTitle(GetWindowClassName());
  sendButton_->setDefault(true);
  // The focus goes to the comment once the window is up.
  focusTimer_ = new QTimer(this);
  focusTimer_->setObjectName("1008");
  focusTimer_->setSingleShot(true);
  connect(focusTimer_, &QTimer::timeout, this, [this] { content_->setFocus(Qt::OtherFocusReason); });
  focusTimer_->start(kFocusTimerMs);
  if (!HasVendorService()) {
    // Said before anything is typed rather than after.
    errorTips_->setText(tr("此版本没有反馈服务。"));
    sendButton_->setEnabled(false);
  }
}

void FeedbackDialog::Notify(const QString& type, QObject* sender) {
  if (type == "click") {
    if (sender == sendButton_) return Send();
    if (sender == contactUs_) {
      const std::string url = WebsiteUrl(kProductHelpPath);
      if (url.empty() || !QDesktopServices::openUrl(QUrl(QString::fromStdString(url))))
        LOG(ERROR) << "cannot open the help page '" << url << "'";
      return;
    }
    if (sender == closeButton_ && closeButton_) return reject();
  }
  SkinDialog::Notify(type, sender);
}

void FeedbackDialog::reject() {
  if (!sending_) Close(0);
}

void FeedbackDialog::Send() {
  if (sending_ || !HasVendorService()) return;
  // Blank text says nothing either.
  const QString content = content_->toPlainText();
  const QString contact = contact_->text();
  if (content.trimmed().isEmpty()) return errorTips_->setText(tr("反馈内容不能为空!"));
  if (contact.trimmed().isEmpty()) return errorTips_->setText(tr("联系方式不能为空!"));
  errorTips_->clear();
  if (!sender_.Start(FeedbackUrl(), content.toStdString(), contact.toStdString(), port_)) return;
  sending_ = true;
  SetLocked(true);
}

void FeedbackDialog::SetLocked(bool locked) {
  content_->setReadOnly(locked);
  contact_->setReadOnly(locked);
  sendButton_->setEnabled(!locked);
  if (closeButton_) closeButton_->setEnabled(!locked);
}

bool FeedbackDialog::event(QEvent* event) {
  if (event->type() != MessageEvent::EventType()) return SkinDialog::event(event);
  Message& message = static_cast<MessageEvent*>(event)->message();
  if (message.id == WM_FEEDBACK_DONE) OnSent(static_cast<FeedbackResult>(message.param));
  return true;
}

void FeedbackDialog::OnSent(FeedbackResult result) {
  sending_ = false;
  SetLocked(false);
  PromptBoxDialog::Show(this, ResultText(result), 200, 100);
  if (result == FeedbackResult::kSent) Close(1);
}

}  // namespace tw
