#include "ui/pages/ExtractPage.h"

namespace tw {

QStringList ExtractPage::ControlNames() const {
  return {
      "add-extract-file",
      "audio-extract-list",
      "audio-extract-format",
      "extract-type"};
}

QStringList ExtractPage::NotifyNames() const { return Page::NotifyNames(); }

bool ExtractPage::Notify(const QString& type, QObject* sender) {
  if (Page::Notify(type, sender)) return true;
  if (type != "click" || sender->objectName() != "extractBtn") return false;
  const std::string format = ComboText("audio-extract-format").toStdString();
  const int extractType = ComboIndex("extract-type");
  StartRowRun(sender, [&](const FileEntry& entry) {
    return BuildExtractCommand(entry, format, extractType, CurrentCommandContext());
  });
  return true;
}

}  // namespace tw
