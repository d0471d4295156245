// Turns the Qt signals of named controls into one Notify(type, sender) call, the way every
// window of Tunewell receives user actions:
//   buttons: clicked -> "click"; checkable buttons also toggled -> "selectchanged" (for a
//   button of an exclusive group only when it becomes checked); sliders: valueChanged ->
//   "valuechanged"; drop-down lists: currentIndexChanged -> "itemselect"; edit fields:
//   textChanged -> "textchanged"; menu actions: triggered -> "itemclick".
// Attach a root once and again for every row added later; each control is connected once.
// Window thread only.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QWidget;

namespace tw {

class NotifyAdapter : public QObject {
  Q_OBJECT
 public:
  using Handler = std::function<void(const QString& type, QObject* sender)>;

  explicit NotifyAdapter(Handler handler, QObject* parent = nullptr);

  // Connects root and every named control below it (Qt's internal "qt_" parts excepted).
  void Attach(QWidget* root);

 private:
  void Connect(QObject* control);
  void Send(const char* type, QObject* sender);

  Handler handler_;
};

}  // namespace tw
