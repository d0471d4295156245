#include "ui/pages/BgMusicPage.h"

namespace tw {

QStringList BgMusicPage::ControlNames() const {
  return {
      "add-bg-music-file",
      "audio-bg-music-list",
      "bg-music-edit",
      "add-bg-music-btn",
      "bg-music-slider",
      "bg-music-volume-label",
      "bg-music-start-pos",
      "bg-music-loop"};
}

QStringList BgMusicPage::NotifyNames() const {
  return Page::NotifyNames() + QStringList{
      "add-bg-music-file",
      "add-bg-music-btn",
      "bg-music-slider",
      "bg-music-loop"};
}

}  // namespace tw
