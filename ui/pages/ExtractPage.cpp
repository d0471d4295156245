#include "ui/pages/ExtractPage.h"

namespace tw {

QStringList ExtractPage::ControlNames() const {
  return {
      "add-extract-file",
      "audio-extract-list",
      "audio-extract-format",
      "extract-type",
      "all-extract-btn"};
}

QStringList ExtractPage::NotifyNames() const { return Page::NotifyNames(); }

bool ExtractPage::Notify(const QString& type, QObject* sender) {
  if (Page::Notify(type, sender)) return true;
  if (type != "click" || sender->objectName() != "extractBtn") return false;
  PressRow(sender);
  return true;
}

void ExtractPage::Init() {
  OfferWritableFormats("audio-extract-format", false);
}

Page::RowBuild ExtractPage::RowBuilder() const {
  return [format = ComboText("audio-extract-format").toStdString(), extractType = ComboIndex("extract-type")](
             const FileEntry& entry, const CommandContext& context) {
    return BuildExtractCommand(entry, format, extractType, context);
  };
}

}  // namespace tw
