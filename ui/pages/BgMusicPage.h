// The background-music page ("audio-bg-music"): the music file, its level, delay and loop.
// Window thread only.
#pragma once

#include "ui/pages/Page.h"

namespace tw {

class BgMusicPage : public Page {
 public:
  explicit BgMusicPage(PageContext& context) : Page(context, OperationKind::BgMusic) {}

  // The page option of the tab bar.
  static constexpr const char* kOptionName = "audio-bg-music";

  QStringList ControlNames() const override;
  QStringList NotifyNames() const override;
  bool Notify(const QString& type, QObject* sender) override;
  // "+%ddB" from 0 up, "%ddB" below.
  static QString LevelText(int levelDb);
  BgMusicOptions CurrentOptions() const;
  const char* RunAllButtonName() const override { return "all-bg-music-btn"; }

 protected:
  RowBuild RowBuilder() const override;

 private:
  void ChooseMusic();
};

}  // namespace tw
