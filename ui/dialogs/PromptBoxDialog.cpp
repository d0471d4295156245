#include "ui/dialogs/PromptBoxDialog.h"

#include <QLabel>
#include <QPushButton>

namespace tw {

int PromptBoxDialog::Show(QWidget* owner, const QString& text, int clientWidth, int clientHeight) {
  auto* dialog = new PromptBoxDialog(owner, text, clientWidth, clientHeight);
  return CreateAndShowModal(dialog);
}

void PromptBoxDialog::InitWindow() {
  msgText_ = Require<QLabel>("msgText");
  msgConfirm_ = Require<QPushButton>("msgConfirm");
  msgText_->setWordWrap(true);
  msgText_->setText(text_);
  // The width stays as given; a text that needs more lines makes the prompt taller.
  FitClientHeight(clientWidth_, clientHeight_);
  msgConfirm_->setDefault(true);
}

void PromptBoxDialog::Notify(const QString& type, QObject* sender) {
  if (type == "click" && sender == msgConfirm_) return Close(1);
  SkinDialog::Notify(type, sender);
}

}  // namespace tw
