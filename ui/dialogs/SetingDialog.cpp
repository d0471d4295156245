#include "ui/dialogs/SetingDialog.h"

#include <fcntl.h>
#include <glog/logging.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QUrl>

#include "app/IniFile.h"
#include "app/SettingsFile.h"
#include "app/Translation.h"
#include "ui/FileChooser.h"
#include "ui/UrlOpener.h"
#include "ui/dialogs/PromptBoxDialog.h"

namespace tw {
namespace {

// The entries of "language", in the order of its items.
const char* const kLanguageValues[] = {kLanguageAuto, kLanguageChinese, kLanguageEnglish};

int LanguageIndex(const std::string& value) {
  for (int i = 0; i < 3; ++i)
    if (value == kLanguageValues[i]) return i;
  return 0;
}

}  // namespace

int SetingDialog::Show(QWidget* owner) {
  auto* dialog = new SetingDialog(owner);
  return CreateAndShowModal(dialog);
}

bool SetingDialog::CanWriteInFolder(const QString& folder) {
  if (!QFileInfo(folder).isDir()) return false;
  std::string probe = folder.toStdString() + "/TunewellTmpXXXXXX";
  const int fd = mkstemp(probe.data());
  if (fd < 0) return false;
  ::close(fd);
  unlink(probe.c_str());
  return true;
}

void SetingDialog::InitWindow() {
  standardQuality_ = Require<QAbstractButton>("audio-standard-quality");
  highQuality_ = Require<QAbstractButton>("audio-high-quality");
  outputDir_ = Require<QLineEdit>("output-dir");
  chooseDir_ = Require<QAbstractButton>("choose-dir");
  openDir_ = Require<QAbstractButton>("open-dir");
  closeExit_ = Require<QAbstractButton>("window-close-exit");
  closeTray_ = Require<QAbstractButton>("window-close-tray");
  closeButton_ = Require<QAbstractButton>("closebtn");
  parallelJobs_ = Require<QComboBox>("parallel-jobs");
  showing_ = true;
  for (int jobs = 1; jobs <= MaxParallelJobs(); ++jobs) parallelJobs_->addItem(QString::number(jobs));
  showing_ = false;
  language_ = Require<QComboBox>("language");
  // GetOutputFolder also makes the folder when it is missing.
  outputDir_->setText(QString::fromStdString(GetOutputFolder()));
  ShowStoredChoices();
}

void SetingDialog::ShowStoredChoices() {
  const SettingsFile& settings = SettingsFile::Instance();
  showing_ = true;
  (settings.GetInt(kSettingsSection, kKeyAudioQuality, 0) != 0 ? highQuality_ : standardQuality_)
      ->setChecked(true);
  (settings.GetInt(kSettingsSection, kKeyWindowClose, 0) != 0 ? closeTray_ : closeExit_)->setChecked(true);
  parallelJobs_->setCurrentIndex(ParallelJobs() - 1);
  language_->setCurrentIndex(
      LanguageIndex(settings.GetString(kSettingsSection, kKeyLanguage, kLanguageAuto)));
  showing_ = false;
}

void SetingDialog::Store(const char* key, const char* value) {
  if (SettingsFile::Instance().WriteString(kSettingsSection, key, value)) return;
  LOG(ERROR) << "cannot write " << key << " to " << SettingsFile::Instance().Path();
  PromptBoxDialog::Show(this, tr("设置保存失败!"));
  ShowStoredChoices();
}

void SetingDialog::Notify(const QString& type, QObject* sender) {
  if (type == "click") {
    if (sender == chooseDir_) return ChooseOutputFolder();
    if (sender == openDir_) return OpenTypedFolder();
    if (sender == closeButton_) return Close(0);
  } else if (type == "selectchanged" && !showing_) {
    if (sender == closeExit_) return Store(kKeyWindowClose, "0");
    if (sender == closeTray_) return Store(kKeyWindowClose, "1");
    if (sender == standardQuality_) return Store(kKeyAudioQuality, "0");
    if (sender == highQuality_) return Store(kKeyAudioQuality, "1");
  } else if (type == "itemselect" && !showing_ && sender == parallelJobs_) {
    return Store(kKeyParallelJobs, parallelJobs_->currentText().toStdString().c_str());
  } else if (type == "itemselect" && !showing_ && sender == language_) {
    // Read at start only: the dialog's note says the change applies at the next start.
    const int index = language_->currentIndex();
    return Store(kKeyLanguage, kLanguageValues[index >= 0 && index < 3 ? index : 0]);
  }
  SkinDialog::Notify(type, sender);
}

void SetingDialog::ChooseOutputFolder() {
  const QString chosen = Files().ChooseFolder(this, outputDir_->text(), tr("选择保存目录"));
  if (chosen.isEmpty()) return;
  const QString folder = QFileInfo(chosen).absoluteFilePath();
  if (!CanWriteInFolder(folder)) {
    PromptBoxDialog::Show(this, tr("该目录没有写入权限!"));
    return;
  }
  // A longer path would come back cut from the settings file, naming another folder.
  if (folder.toUtf8().size() > static_cast<qsizetype>(kMaxFolderBytes)) {
    PromptBoxDialog::Show(this, tr("该目录路径过长!"));
    return;
  }
  // So would one ending in a blank or holding a line break, trimmed or folded by the file.
  if (!IniKeepsValue(folder.toStdString())) {
    const bool lineBreak = folder.contains('\n') || folder.contains('\r');
    PromptBoxDialog::Show(this, lineBreak ? tr("目录名不能包含换行!") : tr("目录名不能以空格结尾!"));
    return;
  }
  if (!SettingsFile::Instance().WriteString(kSettingsSection, kKeyOutputDir, folder.toStdString())) {
    LOG(ERROR) << "cannot write output-dir to " << SettingsFile::Instance().Path();
    PromptBoxDialog::Show(this, tr("设置保存失败!"));
    return;
  }
  outputDir_->setText(folder);
}

// The typed text is opened as it stands and never stored.
void SetingDialog::OpenTypedFolder() {
  const QString folder = outputDir_->text().trimmed();
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
    PromptBoxDialog::Show(this, tr("该目录不存在!"));
    return;
  }
  if (!Urls().Open(QUrl::fromLocalFile(folder))) {
    LOG(ERROR) << "no handler opened " << folder.toStdString();
    PromptBoxDialog::Show(this, tr("无法打开该目录!"));
  }
}

}  // namespace tw
