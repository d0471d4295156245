#include "ui/NotifyAdapter.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QScrollBar>
#include <QWidget>

namespace tw {
namespace {
constexpr const char* kConnectedMark = "tw_notify_connected";
}

NotifyAdapter::NotifyAdapter(Handler handler, QObject* parent) : QObject(parent), handler_(std::move(handler)) {}

void NotifyAdapter::Attach(QWidget* root) {
  if (!root) return;
  Connect(root);
  for (QObject* child : root->findChildren<QObject*>()) Connect(child);
}

void NotifyAdapter::Send(const char* type, QObject* sender) {
  if (handler_) handler_(QString::fromLatin1(type), sender);
}

void NotifyAdapter::Connect(QObject* control) {
  const QString name = control->objectName();
  if (name.isEmpty() || name.startsWith("qt_") || control->property(kConnectedMark).toBool()) return;
  control->setProperty(kConnectedMark, true);
  if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    connect(button, &QAbstractButton::clicked, this, [this, button] { Send("click", button); });
    if (button->isCheckable()) {
      const bool exclusive = button->autoExclusive() || qobject_cast<QRadioButton*>(button);
      connect(button, &QAbstractButton::toggled, this, [this, button, exclusive](bool on) {
        if (on || !exclusive) Send("selectchanged", button);
      });
    }
  } else if (auto* slider = qobject_cast<QAbstractSlider*>(control)) {
    if (qobject_cast<QScrollBar*>(slider)) return;
    connect(slider, &QAbstractSlider::valueChanged, this, [this, slider] { Send("valuechanged", slider); });
  } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
    connect(combo, &QComboBox::currentIndexChanged, this, [this, combo] { Send("itemselect", combo); });
  } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { Send("textchanged", edit); });
  } else if (auto* action = qobject_cast<QAction*>(control)) {
    connect(action, &QAction::triggered, this, [this, action] { Send("itemclick", action); });
  }
}

}  // namespace tw
