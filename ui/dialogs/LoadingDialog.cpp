#include "ui/dialogs/LoadingDialog.h"

#include <QEvent>
#include <QLabel>

#include "ui/dialogs/SkinDialog.h"

namespace tw {

LoadingDialog::LoadingDialog(QWidget* owner, QString text) : QWidget(owner), text_(std::move(text)) {
  hide();
  if (owner) owner->installEventFilter(this);
}

void LoadingDialog::Create() {
  QWidget* form = BuildSkinForm(this, GetSkinFile(), GetWindowClassName(), GetWindowClassName());
  msgText_ = form->findChild<QLabel*>("msgText");
  loadProgress_ = form->findChild<QLabel*>("loadProgress");
  if (!msgText_ || !loadProgress_) throw DialogError((GetWindowClassName() + "::Init").toStdString());
  resize(form->size());
  msgText_->setText(text_);
  loadProgress_->setText(QStringLiteral("0%"));
}

void LoadingDialog::CenterWindow() {
  if (QWidget* owner = parentWidget()) move((owner->width() - width()) / 2, (owner->height() - height()) / 2);
}

void LoadingDialog::SetProgress(int percent) {
  if (loadProgress_) loadProgress_->setText(QStringLiteral("%1%").arg(percent));
}

QString LoadingDialog::ProgressText() const {
  return loadProgress_ ? loadProgress_->text() : QString();
}

bool LoadingDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) CenterWindow();
  return QWidget::eventFilter(watched, event);
}

// Over every other child of the owner, including ones made after it.
void LoadingDialog::showEvent(QShowEvent* event) {
  CenterWindow();
  raise();
  QWidget::showEvent(event);
}

}  // namespace tw
