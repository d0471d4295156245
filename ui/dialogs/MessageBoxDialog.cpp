#include "ui/dialogs/MessageBoxDialog.h"

#include <QLabel>
#include <QPushButton>

namespace tw {

int MessageBoxDialog::Show(QWidget* owner, const QString& text) {
  auto* dialog = new MessageBoxDialog(owner, text);
  return CreateAndShowModal(dialog);
}

void MessageBoxDialog::InitWindow() {
  msgText_ = Require<QLabel>("msgText");
  msgConfirm_ = Require<QPushButton>("msgConfirm");
  msgCancel_ = Require<QPushButton>("msgCancel");
  msgText_->setWordWrap(true);
  msgText_->setText(text_);
  FitClientHeight(designSize_.width(), designSize_.height());
  msgConfirm_->setDefault(true);
}

void MessageBoxDialog::Notify(const QString& type, QObject* sender) {
  if (type == "click") {
    if (sender == msgConfirm_) return Close(1);
    if (sender == msgCancel_) return Close(0);
  }
  SkinDialog::Notify(type, sender);
}

}  // namespace tw
