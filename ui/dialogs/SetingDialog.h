// The settings dialog "系统设置": the output folder ("output-dir", with "choose-dir" and
// "open-dir"), the MP3 quality ("audio-standard-quality" / "audio-high-quality") and what the
// main window's close button does ("window-close-exit" / "window-close-tray"), how many jobs
// the window runs at once ("parallel-jobs", 1 up to the number of cores) and the language
// ("language": follow the system, Chinese, English; read at the next start). It shows what
// the settings file holds when it opens and writes every choice to it at once; there is no OK
// step. A choice that cannot be stored is refused with a prompt and the dialog shows what is
// still in force. Window thread only.
#pragma once

#include "ui/dialogs/SkinDialog.h"

class QAbstractButton;
class QComboBox;
class QLineEdit;

namespace tw {

class SetingDialog : public SkinDialog {
  Q_OBJECT
 public:
  explicit SetingDialog(QWidget* owner) : SkinDialog(owner, QString()) {}

  QString GetSkinFile() const override { return QStringLiteral("Seting.xml"); }
  QString GetWindowClassName() const override { return QStringLiteral("系统设置"); }

  // Create, centre, run modally; the result is of no interest to callers. 0 when the dialog
  // cannot be built (logged with its "系统设置::..." text).
  static int Show(QWidget* owner);

  // The longest folder path the settings file keeps whole, in bytes.
  static constexpr size_t kMaxFolderBytes = 259;

  // True when a file can be made in folder: a uniquely named probe file is created and removed
  // again, so that no file of the user's is touched.
  static bool CanWriteInFolder(const QString& folder);

 protected:
  void InitWindow() override;
  void Notify(const QString& type, QObject* sender) override;

 private:
  // Selects the options from the settings file without writing anything back.
  void ShowStoredChoices();
  // Writes key; on failure tells the user and shows the stored choices again.
  void Store(const char* key, const char* value);
  void ChooseOutputFolder();
  void OpenTypedFolder();

  QAbstractButton* standardQuality_ = nullptr;
  QAbstractButton* highQuality_ = nullptr;
  QLineEdit* outputDir_ = nullptr;
  QAbstractButton* chooseDir_ = nullptr;
  QAbstractButton* openDir_ = nullptr;
  QAbstractButton* closeExit_ = nullptr;
  QAbstractButton* closeTray_ = nullptr;
  QAbstractButton* closeButton_ = nullptr;
  QComboBox* parallelJobs_ = nullptr;
  QComboBox* language_ = nullptr;
  bool showing_ = false;  // the options are set from the file: their changes are not choices
};

}  // namespace tw
