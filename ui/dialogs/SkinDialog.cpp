#include "ui/dialogs/SkinDialog.h"

#include <glog/logging.h>

#include <QGuiApplication>
#include <QRegion>
#include <QResizeEvent>
#include <QScreen>
#include <QVBoxLayout>

#include "ui/NotifyAdapter.h"
#include "ui/Skin.h"

namespace tw {

SkinDialog::SkinDialog(QWidget* owner, QString text)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), text_(std::move(text)) {}

SkinDialog::~SkinDialog() = default;

void SkinDialog::Create() {
  OnCreate();
  InitWindow();
}

void SkinDialog::OnCreate() {
  setObjectName(GetWindowClassName());
  QString error;
  form_ = Skin::Load(GetSkinFile(), this, &error);
  if (!form_) throw DialogError((GetWindowClassName() + "::GetSkinFile").toStdString());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(form_);
  resize(form_->size());
  notify_ = new NotifyAdapter([this](const QString& type, QObject* sender) { Notify(type, sender); }, this);
  notify_->Attach(form_);
  if (HasShadow()) {
    shadow_.SetShadowSize(4);
    shadow_.SetShadowOffset(0, 0);
    shadow_.SetShadowColour(ParseShadowColour("#9E9D9D"));
    shadow_.AttachToWindow(this);
  }
}

void SkinDialog::CenterWindow() {
  QRect area;
  if (QWidget* owner = parentWidget(); owner && owner->isVisible())
    area = owner->frameGeometry();
  else if (QScreen* screen = QGuiApplication::primaryScreen())
    area = screen->availableGeometry();
  if (area.isValid()) move(area.center() - QPoint(width() / 2, height() / 2));
}

int SkinDialog::CreateAndShowModal(SkinDialog* dialog) {
  try {
    dialog->Create();
  } catch (const DialogError& e) {
    LOG(ERROR) << e.what();
    delete dialog;
    return 0;
  }
  return dialog->ShowModal();
}

int SkinDialog::ShowModal() {
  setAttribute(Qt::WA_DeleteOnClose);
  CenterWindow();
  return exec();
}

void SkinDialog::Close(int result) { done(result); }

void SkinDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (!HasShadow()) return;
  // The window shape: the rectangle less a 2-pixel step at each corner.
  const int w = width(), h = height();
  QRegion shape(0, 2, w, h - 4);
  shape += QRegion(1, 1, w - 2, h - 2);
  shape += QRegion(2, 0, w - 4, h);
  setMask(shape);
}

void SkinDialog::Notify(const QString&, QObject*) {}

}  // namespace tw
