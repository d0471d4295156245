#include "ui/dialogs/PromptBoxDialog.h"

#include <QLabel>
#include <QPushButton>

namespace tw {

int PromptBoxDialog::Show(QWidget* owner, const QString& text, int clientWidth, int clientHeight) {
  auto* dialog = new PromptBoxDialog(owner, text, clientWidth, clientHeight);
  return CreateAndShowModal(dialog);
}

void PromptBoxDialog::ResizeClient(int width, int height) { setFixedSize(width, height); }

void PromptBoxDialog::InitWindow() {
  msgText_ = Require<QLabel>("msgText");
  msgConfirm_ = Require<QPushButton>("msgConfirm");
  ResizeClient(clientWidth_, clientHeight_);
  msgText_->setText(text_);
  msgConfirm_->setDefault(true);
}

void PromptBoxDialog::Notify(const QString& type, QObject* sender) {
  if (type == "click" && sender == msgConfirm_) return Close(1);
  SkinDialog::Notify(type, sender);
}

}  // namespace tw
