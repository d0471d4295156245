// What the main menu and the row menus share: a pop-up window built from a layout of the skin
// whose named buttons are the items. A click on an item hands the item's name to the menu
// (OnItemClick, which posts the item's message) and closes it; so do nothing but close: the
// Escape key and a click outside (the pop-up holds the pointer while it is open, so a click on
// another application's window closes it too). Mouse-wheel turns are swallowed. Shown through
// Open helpers, a menu owns and deletes itself once closed. It is a popup of its owner's window:
// on Wayland an anchored popup the compositor places and keeps on screen where it can.
// Window thread only.
#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "app/MessageSink.h"

namespace tw {

class NotifyAdapter;

class MenuWindow : public QWidget {
  Q_OBJECT
 public:
  // owner: the window the menu belongs to; sink: where its items post their messages.
  MenuWindow(QWidget* owner, MessageSink* sink);
  ~MenuWindow() override;

  virtual QString GetSkinFile() const = 0;
  virtual QString GetWindowClassName() const = 0;

  // Builds the layout. Throws DialogError("<class>::GetSkinFile") when it cannot be built.
  void Create();
  // The names of the layout's items, in layout order.
  QStringList ItemNames() const;
  // Shows the menu with its top-left corner at topLeft; it deletes itself once closed.
  void ShowAt(QPoint topLeft);

  // The work area of the screen that holds point (the primary screen's when none does).
  static QRect WorkAreaAt(QPoint point);
  // Where a menu of owner's window opening at anchor must stay. On X11 the work area at anchor.
  // On Wayland the program knows neither where its window is nor what of it is on screen, only
  // the window itself: menus stay inside it, and the compositor's constraint rules for popups
  // anchored to it do the rest.
  static QRect PlacementArea(const QWidget* owner, QPoint anchor);

 protected:
  // The class name that failures carry ("CutPopMenu").
  virtual QString ErrorName() const = 0;
  // A click on the item called name; the menu closes right after.
  virtual void OnItemClick(const QString& name) = 0;

  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

  MessageSink* sink_;

 private:
  void Notify(const QString& type, QObject* sender);

  QWidget* form_ = nullptr;
  NotifyAdapter* notify_ = nullptr;
};

}  // namespace tw
