#include "ui/pages/ExtractPage.h"

namespace tw {

QStringList ExtractPage::ControlNames() const {
  return {
      "add-extract-file",
      "audio-extract-list",
      "audio-extract-format",
      "extract-type"};
}

QStringList ExtractPage::NotifyNames() const {
  return Page::NotifyNames() + QStringList{
      "add-extract-file"};
}

}  // namespace tw
