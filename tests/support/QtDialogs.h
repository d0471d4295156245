// Answering Tunewell's modal dialogs from a test: arm an answer before the code under test
// opens the dialog; while the dialog's own loop runs, the answer finds it
// (QApplication::activeModalWidget), remembers its "msgText", and presses the named button.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>
#include <ostream>

#include "ui/FileChooser.h"
#include "ui/UrlOpener.h"

// Texts in test failures as they read.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace tw::test {

struct ModalAnswer {
  bool answered = false;
  QString dialogClass;     // the dialog's object name ("MessageBoxDialog")
  QString text;            // its "msgText"
  bool cancelled = false;  // set by the test: answer nothing any more
};

// Presses button of the next modal dialog within timeoutMs. The returned record is filled in
// when the dialog is answered.
std::shared_ptr<ModalAnswer> AnswerNextModal(const QString& button, int timeoutMs = 5000);

// Keeps every dialog shown while it lives, in order: its object name ("MessageBoxDialog",
// "升级下载") and its "msgText". A test that opens dialogs checks the list at its end, so a
// dialog nobody expected (an error prompt in passing, a second offer) fails it.
class DialogRecorder : public QObject {
 public:
  struct Shown {
    QString dialogClass;
    QString text;  // "" when the dialog has no "msgText"
  };
  DialogRecorder();
  ~DialogRecorder() override;
  const QList<Shown>& Opened() const { return opened_; }
  // For each dialog its "msgText", or its object name when it has none.
  QStringList Texts() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QList<Shown> opened_;
};

// A recorder for a test fixture: the test names the dialogs it expects, in order, as it goes
// (their "msgText", or object name when they have none), and Check (from TearDown) fails the
// test when the dialogs that opened differ.
class ExpectedDialogs : public DialogRecorder {
 public:
  void Expect(const QStringList& texts) { expected_ << texts; }
  void Check() const;

 private:
  QStringList expected_;
};

// A file chooser that returns prepared answers, one per call, then nothing (cancel).
class PresetFileChooser : public FileChooser {
 public:
  void AddFiles(QStringList files) { files_.append(std::move(files)); }
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
  QList<QStringList> files_;  // one answer a call: names may hold line breaks
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
