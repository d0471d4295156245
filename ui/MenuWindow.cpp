#include "ui/MenuWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "ui/NotifyAdapter.h"
#include "ui/Skin.h"
#include "ui/WindowSystem.h"
#include "ui/dialogs/SkinDialog.h"

namespace tw {

MenuWindow::MenuWindow(QWidget* owner, MessageSink* sink)
    : QWidget(owner, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint), sink_(sink) {
  setAttribute(Qt::WA_DeleteOnClose);
}

MenuWindow::~MenuWindow() = default;

void MenuWindow::Create() {
  setObjectName(GetWindowClassName());
  QString error;
  form_ = Skin::Load(GetSkinFile(), this, &error);
  if (!form_) throw DialogError((ErrorName() + "::GetSkinFile").toStdString());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(form_);
  resize(form_->size().expandedTo(form_->minimumSizeHint()));
  notify_ = new NotifyAdapter([this](const QString& type, QObject* sender) { Notify(type, sender); }, this);
  notify_->Attach(form_);
}

QStringList MenuWindow::ItemNames() const {
  QStringList names;
  if (!form_) return names;
  for (auto* button : form_->findChildren<QAbstractButton*>())
    if (!button->objectName().isEmpty()) names << button->objectName();
  return names;
}

void MenuWindow::ShowAt(QPoint topLeft) {
  // One menu at a time: a new one replaces any still open. It is shown first, so that the
  // application keeps a pop-up, and with it the focus, while the old one goes.
  QList<MenuWindow*> others;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* menu = qobject_cast<MenuWindow*>(w); menu && menu != this && menu->isVisible()) others << menu;
  move(topLeft);
  show();
  raise();
  for (MenuWindow* menu : others) menu->close();
}

QRect MenuWindow::WorkAreaAt(QPoint point) {
  QScreen* screen = QGuiApplication::screenAt(point);
  if (!screen) screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
}

QRect MenuWindow::PlacementArea(const QWidget* owner, QPoint anchor) {
  if (CanPlaceTopLevels() || !owner) return WorkAreaAt(anchor);
  return owner->window()->frameGeometry();
}

void MenuWindow::Notify(const QString& type, QObject* sender) {
  if (type != "click" || !sender) return;
  OnItemClick(sender->objectName());
  close();
}

void MenuWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void MenuWindow::wheelEvent(QWheelEvent* event) {
  event->accept();
}

// The corners are rounded by 3 pixels.
void MenuWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  QPainterPath path;
  path.addRoundedRect(QRectF(rect()), 3, 3);
  setMask(QRegion(path.toFillPolygon().toPolygon()));
}

}  // namespace tw
