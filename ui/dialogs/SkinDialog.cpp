#include "ui/dialogs/SkinDialog.h"

#include <glog/logging.h>

#include <QGuiApplication>
#include <QMouseEvent>
#include <QRegion>
#include <QResizeEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "ui/NotifyAdapter.h"
#include "ui/Skin.h"
#include "ui/WindowSystem.h"

namespace tw {
namespace {

// The shape of the dialogs with a shadow: the rectangle less a 2-pixel step at each corner.
QRegion CutCorners(QSize size) {
  const int w = size.width(), h = size.height();
  QRegion shape(0, 2, w, h - 4);
  shape += QRegion(1, 1, w - 2, h - 2);
  shape += QRegion(2, 0, w - 4, h);
  return shape;
}

}  // namespace

QWidget* BuildSkinForm(QWidget* host, const QString& skinFile, const QString& className,
                       const QString& errorName) {
  host->setObjectName(className);
  QString error;
  QWidget* form = Skin::Load(skinFile, host, &error);
  if (!form) throw DialogError((errorName + "::GetSkinFile").toStdString());
  auto* layout = new QVBoxLayout(host);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(form);
  return form;
}

SkinDialog::SkinDialog(QWidget* owner, QString text)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), text_(std::move(text)) {}

SkinDialog::~SkinDialog() = default;

void SkinDialog::Create() {
  OnCreate();
  InitWindow();
}

void SkinDialog::OnCreate() {
  form_ = BuildSkinForm(this, GetSkinFile(), GetWindowClassName(), GetWindowClassName());
  designSize_ = form_->size();
  if (HasShadow()) {
    shadow_.SetShadowSize(4);
    shadow_.SetShadowOffset(0, 0);
    shadow_.SetShadowColour(ParseShadowColour("#9E9D9D"));
    shadow_.AttachToWindow(this, form_);
  }
  resize(form_->size().grownBy(contentsMargins()));
  notify_ = new NotifyAdapter([this](const QString& type, QObject* sender) { Notify(type, sender); }, this);
  notify_->Attach(form_);
  titleBar_ = FindControl(form_, QStringLiteral("title-bar"));
  if (titleBar_) titleBar_->installEventFilter(this);
}

void SkinDialog::CenterWindow() {
  if (!CanPlaceTopLevels()) return;
  QRect area;
  if (QWidget* owner = parentWidget(); owner && owner->isVisible())
    area = owner->frameGeometry();
  else if (QScreen* screen = QGuiApplication::primaryScreen())
    area = screen->availableGeometry();
  if (area.isValid()) move(area.center() - QPoint(width() / 2, height() / 2));
}

void SkinDialog::FitClientHeight(int width, int minHeight) {
  QLayout* layout = form_ ? form_->layout() : nullptr;
  // The style sheet's fonts and paddings decide the height: apply them before measuring.
  ensurePolished();
  int needed = 0;
  if (layout)
    needed =
        layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : layout->totalSizeHint().height();
  setFixedSize(QSize(width, std::max(minHeight, needed)).grownBy(contentsMargins()));
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

void SkinDialog::Close(int result) {
  done(result);
}

void SkinDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (!HasShadow() || !form_) return;
  // With a shadow the shape is the content's, inside the translucent surface; without one it is
  // the window's own.
  if (shadow_.Attached())
    form_->setMask(CutCorners(ClientSize()));
  else
    setMask(CutCorners(size()));
}

bool SkinDialog::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched != titleBar_ ||
      (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease))
    return QDialog::eventFilter(watched, event);
  auto* mouse = static_cast<QMouseEvent*>(event);
  switch (type) {
    case QEvent::MouseButtonPress:
      if (mouse->button() != Qt::LeftButton) break;
      // The window manager or compositor moves the dialog; where it cannot, the dialog follows
      // the pointer itself.
      if (QWindow* handle = windowHandle(); handle && handle->startSystemMove()) return true;
      dragging_ = true;
      dragOffset_ = mouse->globalPosition().toPoint() - pos();
      return true;
    case QEvent::MouseMove:
      if (!dragging_) break;
      move(mouse->globalPosition().toPoint() - dragOffset_);
      return true;
    case QEvent::MouseButtonRelease:
      if (!dragging_) break;
      dragging_ = false;
      return true;
    default:
      break;
  }
  return QDialog::eventFilter(watched, event);
}

void SkinDialog::Notify(const QString&, QObject*) {}

}  // namespace tw
