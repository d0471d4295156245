// The row menus of the file lists: one class configured by a table. Each page's menu button
// ("convertListMenuBtn" ...) opens its page's menu at the click; the menu's items post the list
// messages (WM_LIST_OPEN_DIR ...) with a ListRecord of the menu's page code and the row's task
// id (the button's tag), which the page of that code then carries out.
// Window thread only.
#pragma once

#include <QPoint>
#include <vector>

#include "tasks/OperationKind.h"
#include "ui/MenuWindow.h"

namespace tw {

struct PopMenuSpec {
  const char* className;        // "CutPopMenu"
  const char* menuButton;       // the row button that opens it: "listMenuBtn"
  const char* layoutFile;       // "CutPopMenu.xml"
  const char* windowClassName;  // "CutPopMenu"
  OperationKind pageCode;       // posted in every record, whatever the layout
  std::vector<const char*> items;
};

// Every row menu, in the order of the pages. The volume menu goes by the speed menu's window
// class name, and the background-music menu uses the noise menu's layout and window class name;
// both post their own page codes. The menus of rows that run jobs offer "cancel-task".
const std::vector<PopMenuSpec>& PopMenuSpecs();
const PopMenuSpec* FindPopMenuSpec(OperationKind pageCode);

// The list message of a row-menu item ("open-dir" WM_LIST_OPEN_DIR ...); 0 for other names.
unsigned PopMenuItemMessage(const QString& item);

class PopMenu : public MenuWindow {
  Q_OBJECT
 public:
  // button: the row's menu button, whose window owns the menu and whose tag is the task id.
  PopMenu(const PopMenuSpec& spec, QWidget* button, MessageSink* sink);

  QString GetSkinFile() const override { return QString::fromLatin1(spec_.layoutFile); }
  QString GetWindowClassName() const override { return QString::fromLatin1(spec_.windowClassName); }
  const PopMenuSpec& Spec() const { return spec_; }

  // Builds and shows the menu of spec for button at anchor (global coordinates), placed by
  // PlacePopMenu in PlacementArea. Null, with the failure logged, when the layout cannot be built.
  static PopMenu* Open(const PopMenuSpec& spec, QWidget* button, QPoint anchor, MessageSink* sink);
  // Where the menu of button opens: the button's bottom-right corner, so that the menu hangs
  // below the button, its right edge on the button's. From the button, not the cursor: on
  // Wayland the cursor's global position is a guess.
  static QPoint ClickAnchor(const QWidget* button);

 protected:
  QString ErrorName() const override { return QString::fromLatin1(spec_.className); }
  void OnItemClick(const QString& name) override;

 private:
  const PopMenuSpec& spec_;
  int taskId_;
};

}  // namespace tw
