#include "ui/PopMenu.h"

#include <glog/logging.h>

#include "app/Messages.h"
#include "ui/MenuPlacement.h"
#include "ui/Skin.h"
#include "ui/dialogs/SkinDialog.h"
#include "ui/pages/ListRows.h"

namespace tw {

const std::vector<PopMenuSpec>& PopMenuSpecs() {
  // clang-format off
  static const std::vector<PopMenuSpec> specs = {
      {"CutPopMenu", "listMenuBtn", "CutPopMenu.xml", "CutPopMenu", OperationKind::Cut,
       {"open-dir", "remove-file", "delete-file", "add-to-convert", "add-to-speed", "add-to-noise", "add-to-volume",
        "cancel-task"}},
      {"RecordPopMenu", "recorderListMenuBtn", "RecordPopMenu.xml", "RecordPopMenu", OperationKind::Record,
       {"open-dir", "remove-file", "delete-file"}},
      {"ConvertPopMenu", "convertListMenuBtn", "ConvertPopMenu.xml", "ConvertPopMenu", OperationKind::Convert,
       {"open-dir", "remove-file", "cancel-task"}},
      {"MergePopMenu", "mergeListMenuBtn", "MergePopMenu.xml", "MergePopMenu", OperationKind::Merge,
       {"open-dir", "remove-file"}},
      {"SpeedPopMenu", "speedListMenuBtn", "SpeedPopMenu.xml", "SpeedPopMenu", OperationKind::Speed,
       {"open-dir", "remove-file", "cancel-task"}},
      {"ExtractPopMenu", "extractListMenuBtn", "ExtractPopMenu.xml", "ExtractPopMenu", OperationKind::Extract,
       {"open-dir", "remove-file", "cancel-task"}},
      {"NoisePopMenu", "noiseListMenuBtn", "NoisePopMenu.xml", "NoisePopMenu", OperationKind::Noise,
       {"open-dir", "remove-file", "cancel-task"}},
      {"VolumePopMenu", "volumeListMenuBtn", "VolumePopMenu.xml", "SpeedPopMenu", OperationKind::Volume,
       {"open-dir", "remove-file", "cancel-task"}},
      {"BgMusicPopMenu", "bgMusicListMenuBtn", "NoisePopMenu.xml", "NoisePopMenu", OperationKind::BgMusic,
       {"open-dir", "remove-file", "cancel-task"}},
  };
  // clang-format on
  return specs;
}

const PopMenuSpec* FindPopMenuSpec(OperationKind pageCode) {
  for (const auto& spec : PopMenuSpecs())
    if (spec.pageCode == pageCode) return &spec;
  return nullptr;
}

unsigned PopMenuItemMessage(const QString& item) {
  struct Item {
    const char* name;
    unsigned message;
  };
  static const Item items[] = {
      {"open-dir", WM_LIST_OPEN_DIR},           {"add-to-convert", WM_LIST_ADD_TO_CONVERT},
      {"add-to-speed", WM_LIST_ADD_TO_SPEED},   {"add-to-noise", WM_LIST_ADD_TO_NOISE},
      {"add-to-volume", WM_LIST_ADD_TO_VOLUME}, {"remove-file", WM_LIST_REMOVE},
      {"delete-file", WM_LIST_DELETE},          {"cancel-task", WM_LIST_CANCEL},
  };
  for (const Item& i : items)
    if (item == i.name) return i.message;
  return 0;
}

PopMenu::PopMenu(const PopMenuSpec& spec, QWidget* button, MessageSink* sink)
    : MenuWindow(button ? button->window() : nullptr, sink), spec_(spec), taskId_(GetTag(button)) {}

PopMenu* PopMenu::Open(const PopMenuSpec& spec, QWidget* button, QPoint anchor, MessageSink* sink) {
  auto* menu = new PopMenu(spec, button, sink);
  try {
    menu->Create();
  } catch (const DialogError& e) {
    LOG(ERROR) << e.what();
    delete menu;
    return nullptr;
  }
  menu->ShowAt(PlacePopMenu(anchor, menu->size(), PlacementArea(button, anchor)));
  return menu;
}

QPoint PopMenu::ClickAnchor(const QWidget* button) {
  return button ? button->mapToGlobal(QPoint(button->width(), button->height())) : QPoint();
}

void PopMenu::OnItemClick(const QString& name) {
  const unsigned message = PopMenuItemMessage(name);
  if (message == 0) return;
  PostRecord<ListRecord>(sink_, message, static_cast<int>(spec_.pageCode), taskId_);
}

}  // namespace tw
