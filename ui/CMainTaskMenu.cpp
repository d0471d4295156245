#include "ui/CMainTaskMenu.h"

#include <glog/logging.h>

#include "app/Messages.h"
#include "ui/MenuPlacement.h"
#include "ui/dialogs/SkinDialog.h"

namespace tw {

unsigned CMainTaskMenu::ItemMessage(const QString& item) {
  struct Item {
    const char* name;
    unsigned message;
  };
  static const Item items[] = {
      {"main_menu_item_quit", WM_MENU_QUIT},         {"main_menu_item_home", WM_MENU_HOME},
      {"main_menu_item_feedback", WM_MENU_FEEDBACK}, {"main_menu_item_help", WM_MENU_HELP},
      {"main_menu_item_upgrade", WM_MENU_UPGRADE},   {"main_menu_item_seting", WM_MENU_SETTINGS},
  };
  for (const Item& i : items)
    if (item == i.name) return i.message;
  return 0;
}

CMainTaskMenu* CMainTaskMenu::Build(QWidget* owner, MessageSink* sink) {
  auto* menu = new CMainTaskMenu(owner, sink);
  menu->setWindowTitle(QStringLiteral("MenuWnd"));
  try {
    menu->Create();
  } catch (const DialogError& e) {
    LOG(ERROR) << e.what();
    delete menu;
    return nullptr;
  }
  return menu;
}

CMainTaskMenu* CMainTaskMenu::Open(QWidget* owner, QPoint cursor, MessageSink* sink) {
  CMainTaskMenu* menu = Build(owner, sink);
  if (menu) menu->ShowAt(PlaceMainMenu(cursor, menu->size(), WorkAreaAt(cursor)));
  return menu;
}

CMainTaskMenu* CMainTaskMenu::OpenBelow(QWidget* owner, const QWidget* button, MessageSink* sink) {
  CMainTaskMenu* menu = Build(owner, sink);
  if (!menu) return nullptr;
  // PlaceMainMenu moves the menu 6 right and 6 up of its anchor.
  const QPoint corner = button->mapToGlobal(QPoint(button->width(), button->height()));
  const QPoint cursor(corner.x() - menu->width() - 6, corner.y() + 6);
  menu->ShowAt(PlaceMainMenu(cursor, menu->size(), WorkAreaAt(corner)));
  return menu;
}

void CMainTaskMenu::OnItemClick(const QString& name) {
  if (const unsigned message = ItemMessage(name)) PostValue(sink_, message);
}

}  // namespace tw
