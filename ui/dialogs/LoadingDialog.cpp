#include "ui/dialogs/LoadingDialog.h"

#include <QLabel>

namespace tw {

void LoadingDialog::InitWindow() {
  msgText_ = Require<QLabel>("msgText");
  loadProgress_ = Require<QLabel>("loadProgress");
  msgText_->setText(text_);
  loadProgress_->setText(QStringLiteral("0%"));
}

void LoadingDialog::SetProgress(int percent) {
  if (loadProgress_) loadProgress_->setText(QStringLiteral("%1%").arg(percent));
}

QString LoadingDialog::ProgressText() const { return loadProgress_ ? loadProgress_->text() : QString(); }

}  // namespace tw
