// Answering Tunewell's modal dialogs from a test: arm an answer before the code under test
// opens the dialog; while the dialog's own loop runs, the answer finds it
// (QApplication::activeModalWidget), remembers its "msgText", and presses the named button.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include <QList>
#include <QUrl>

#include "ui/FileChooser.h"
#include "ui/UrlOpener.h"

namespace tw::test {

struct ModalAnswer {
  bool answered = false;
  QString dialogClass;  // the dialog's object name ("MessageBoxDialog")
  QString text;         // its "msgText"
  bool cancelled = false;  // set by the test: answer nothing any more
};

// Presses button of the next modal dialog within timeoutMs. The returned record is filled in
// when the dialog is answered.
std::shared_ptr<ModalAnswer> AnswerNextModal(const QString& button, int timeoutMs = 5000);

// A file chooser that returns prepared answers, one per call, then nothing (cancel).
class PresetFileChooser : public FileChooser {
 public:
  void AddFiles(QStringList files) { files_ << files.join(QChar('\n')); }
  void AddFolder(QString folder) { folders_ << folder; }
  QStringList OpenFiles(QWidget* owner, const std::vector<FileFilter>& filters, bool multiple) override;
  QString ChooseFolder(QWidget* owner, const QString& startFolder, const QString& title) override;
  // The filters of the last OpenFiles call.
  std::vector<FileFilter> lastFilters;
  bool lastMultiple = false;
  // The start folder and title of the last ChooseFolder call.
  QString lastStartFolder;
  QString lastFolderTitle;

 private:
  QStringList files_;
  QStringList folders_;
};

// An opener that keeps the addresses it is asked to open and answers with `handled`.
class RecordingUrlOpener : public UrlOpener {
 public:
  bool Open(const QUrl& url) override {
    urls << url;
    return handled;
  }
  QList<QUrl> urls;
  bool handled = true;
};

}  // namespace tw::test
