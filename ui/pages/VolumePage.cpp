#include "ui/pages/VolumePage.h"

namespace tw {

QStringList VolumePage::ControlNames() const {
  return {
      "add-volume-file",
      "audio-volume-list",
      "change-volume-slider",
      "volume-label",
      "fade-in",
      "fade-out",
      "fade-in-start",
      "fade-in-duration",
      "fade-out-start",
      "fade-out-duration"};
}

QStringList VolumePage::NotifyNames() const {
  return Page::NotifyNames() + QStringList{
      "add-volume-file",
      "change-volume-slider",
      "fade-in",
      "fade-out"};
}

}  // namespace tw
