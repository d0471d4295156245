// The main menu of the program: the title bar's menu button opens it as a pop-up, and the tray
// icon carries the same items as its context menu, which the tray host draws where the user
// clicked (BuildTrayMenu). Its items post the menu messages to the main window: quit, show the
// window, feedback, help, check for a new version, settings.
// Window thread only.
#pragma once

#include <QPoint>

class QMenu;

#include "ui/MenuWindow.h"

namespace tw {

class CMainTaskMenu : public MenuWindow {
  Q_OBJECT
 public:
  CMainTaskMenu(QWidget* owner, MessageSink* sink) : MenuWindow(owner, sink) {}

  QString GetSkinFile() const override { return QStringLiteral("MainTaskMenu.xml"); }
  // With its trailing space.
  QString GetWindowClassName() const override { return QStringLiteral("CDuiMenu "); }

  // The message of an item ("main_menu_item_quit" WM_MENU_QUIT ...); 0 for other names.
  static unsigned ItemMessage(const QString& item);

  // Builds and shows the menu right below button, its right edge on the button's, placed by
  // PlaceMainMenu in PlacementArea. Null, with the failure logged, when the layout cannot be built.
  static CMainTaskMenu* OpenBelow(QWidget* owner, const QWidget* button, MessageSink* sink);
  // The tray icon's context menu: the layout's items in its order, with their names and texts,
  // and a separator where the layout has one; each posts its item's message to sink. Null, with
  // the failure logged, when the layout cannot be read.
  static QMenu* BuildTrayMenu(QWidget* parent, MessageSink* sink);

 protected:
  QString ErrorName() const override { return QStringLiteral("CMainTaskMenu"); }
  void OnItemClick(const QString& name) override;

 private:
  static CMainTaskMenu* Build(QWidget* owner, MessageSink* sink);
};

}  // namespace tw
