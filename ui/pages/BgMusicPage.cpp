#include "ui/pages/BgMusicPage.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>

#include "ui/FileChooser.h"
#include "ui/pages/FileList.h"

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
      "bg-music-loop",
      "all-bg-music-btn"};
}

QStringList BgMusicPage::NotifyNames() const {
  return Page::NotifyNames() + QStringList{
      "add-bg-music-btn",
      "bg-music-slider",
      "bg-music-loop"};
}

QString BgMusicPage::LevelText(int levelDb) {
  return levelDb >= 0 ? QString::asprintf("+%ddB", levelDb) : QString::asprintf("%ddB", levelDb);
}

BgMusicOptions BgMusicPage::CurrentOptions() const {
  BgMusicOptions options;
  options.musicPath = EditText("bg-music-edit").toStdString();
  if (auto* slider = Ctl<QSlider>("bg-music-slider")) options.levelDb = slider->value();
  options.startPos = EditText("bg-music-start-pos").toStdString();
  options.loop = IsChecked("bg-music-loop");
  return options;
}

bool BgMusicPage::Notify(const QString& type, QObject* sender) {
  if (Page::Notify(type, sender)) return true;
  const QString name = sender->objectName();
  if (type == "valuechanged" && name == "bg-music-slider") {
    if (auto* slider = qobject_cast<QSlider*>(sender))
      if (auto* label = Ctl<QLabel>("bg-music-volume-label")) label->setText(LevelText(slider->value()));
    return true;
  }
  if (type == "click" && name == "add-bg-music-btn") {
    ChooseMusic();
    return true;
  }
  if (type == "click" && name == "bgMusicBtn") {
    PressRow(sender);
    return true;
  }
  // "bg-music-loop" is read when a run starts.
  return name == "bg-music-loop";
}

Page::RowBuild BgMusicPage::RowBuilder() const {
  // The music is checked (and probed) once for every row the press or run builds.
  BgMusicOptions options = CurrentOptions();
  const std::string refusal = options.musicPath.empty() ? "" : CheckBgMusic(options);
  return [options, refusal](const FileEntry& entry, const CommandContext& context) {
    if (refusal.empty()) return BuildBgMusicCommand(entry, options, context);
    BuiltCommand refused;
    refused.message = refusal;
    return refused;
  };
}

void BgMusicPage::ChooseMusic() {
  const FileFilter* filter = AddFileFilter(OperationKind::BgMusic);
  const QStringList chosen = Files().OpenFiles(ctx_.window, {*filter}, false);
  if (chosen.isEmpty()) return;
  // The dialog accepts only a file that exists in a folder that exists.
  const QFileInfo info(chosen.first());
  if (!info.isFile() || !info.dir().exists()) return;
  if (auto* edit = Ctl<QLineEdit>("bg-music-edit")) edit->setText(chosen.first());
}

}  // namespace tw
