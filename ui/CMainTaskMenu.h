// The main menu of the program: opened by a right click on the tray icon and by the title
// bar's menu button. Its items post the menu messages to the main window: quit, show the
// window, feedback, help, check for a new version, settings.
// Window thread only.
#pragma once

#include <QPoint>

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

  // Builds and shows the menu at the cursor point, placed by PlaceMainMenu. Null, with the
  // failure logged, when the layout cannot be built.
  static CMainTaskMenu* Open(QWidget* owner, QPoint cursor, MessageSink* sink);
  // Builds and shows the menu right below button, its right edge on the button's.
  static CMainTaskMenu* OpenBelow(QWidget* owner, const QWidget* button, MessageSink* sink);

 protected:
  QString ErrorName() const override { return QStringLiteral("CMainTaskMenu"); }
  void OnItemClick(const QString& name) override;

 private:
  static CMainTaskMenu* Build(QWidget* owner, MessageSink* sink);
};

}  // namespace tw
