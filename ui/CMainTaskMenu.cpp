#include "ui/CMainTaskMenu.h"

#include <glog/logging.h>

#include <QAbstractButton>
#include <QMenu>
#include <memory>

#include "app/Messages.h"
#include "ui/MenuPlacement.h"
#include "ui/Skin.h"
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

CMainTaskMenu* CMainTaskMenu::OpenBelow(QWidget* owner, const QWidget* button, MessageSink* sink) {
  CMainTaskMenu* menu = Build(owner, sink);
  if (!menu) return nullptr;
  // PlaceMainMenu moves the menu 6 right and 6 up of its anchor.
  const QPoint corner = button->mapToGlobal(QPoint(button->width(), button->height()));
  const QPoint cursor(corner.x() - menu->width() - 6, corner.y() + 6);
  menu->ShowAt(PlaceMainMenu(cursor, menu->size(), PlacementArea(owner, corner)));
  return menu;
}

QMenu* CMainTaskMenu::BuildTrayMenu(QWidget* parent, MessageSink* sink) {
  QString error;
  std::unique_ptr<QWidget> form(Skin::Load(QStringLiteral("MainTaskMenu.xml"), nullptr, &error));
  if (!form) {
    LOG(ERROR) << "CMainTaskMenu::GetSkinFile: " << error.toStdString();
    return nullptr;
  }
  auto* menu = new QMenu(parent);
  menu->setObjectName(QStringLiteral("CDuiMenu "));
  // The layout's widgets in document order: its items and separators as they stand.
  for (QWidget* w : form->findChildren<QWidget*>()) {
    if (auto* item = qobject_cast<QAbstractButton*>(w); item && !item->objectName().isEmpty()) {
      QAction* action = menu->addAction(item->text());
      action->setObjectName(item->objectName());
      const unsigned message = ItemMessage(item->objectName());
      QObject::connect(action, &QAction::triggered, menu, [sink, message] {
        if (message) PostValue(sink, message);
      });
    } else if (w->property("role").toString() == QStringLiteral("menu-separator")) {
      menu->addSeparator();
    }
  }
  return menu;
}

void CMainTaskMenu::OnItemClick(const QString& name) {
  if (const unsigned message = ItemMessage(name)) PostValue(sink_, message);
}

}  // namespace tw
