// Driving the main window's pages from a test as the user does: a window with its own output
// folder and a file chooser with prepared answers, buttons pressed through their signals, and
// waits that keep the event loop running (offscreen platform).
#pragma once

#include <gtest/gtest.h>

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>
#include <string>

#include "tests/support/QtDialogs.h"
#include "tests/support/TestMedia.h"
#include "ui/CMainWnd.h"

namespace tw::test {

// Runs posted events and deferred deletes a few times.
void Pump();
// Runs the event loop until done() holds or timeoutMs pass; the last value of done().
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000);
// The text a widget's tooltip shows, rendered as QToolTip renders it (markup taken as markup).
QString ShownToolTip(const QWidget* widget);

// Catches what the pages open with the desktop's default handler ("file" URLs) while it lives,
// so a test never starts the desktop's file browser.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  UrlCatcher();
  ~UrlCatcher() override;
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls << url; }
};

// A shown main window whose results go to a fresh folder, with a PresetFileChooser installed.
class PageWindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  Page* PageOf(OperationKind kind) const { return window_->PageFor(kind); }
  // Adds files to a page through its add button and the chooser; waits until they are probed.
  void AddThroughDialog(OperationKind kind, const QStringList& files);
  // Waits until the prober has delivered every chosen file.
  void WaitForRows();

  // A control of the main window by name; nullptr when there is none.
  template <class T = QWidget>
  T* Ctl(const char* name) const {
    return FindControl<T>(window_->Root(), name);
  }
  // Presses a control of the main window or of a row.
  void Click(const QString& name);
  void ClickRow(OperationKind kind, int taskId, const QString& button);
  QWidget* Row(OperationKind kind, int taskId) const;
  int RowId(OperationKind kind, int index) const;
  int Rows(OperationKind kind) const;
  QString RowText(OperationKind kind, int taskId, const QString& label) const;
  // True when the row's run reports 100% and its action button takes clicks again.
  bool RowDone(OperationKind kind, int taskId) const;
  // The merge has ended: 100 % shows while its result is still being written and published.
  bool MergeOver() const;

  // The dialogs a test expects to open, in order (their "msgText", or object name when they have
  // none); with checkDialogs_ set, TearDown fails a test whose dialogs differ.
  void ExpectDialogs(const QStringList& texts) { dialogs_->Expect(texts); }

  std::string outputDir_;
  // Rows run with a speed and a volume that change the sound (the pages refuse 1.0, which
  // would copy the source); a test of the pages' own defaults clears it.
  bool changingFactors_ = true;
  std::unique_ptr<UrlCatcher> opened_;
  std::unique_ptr<ExpectedDialogs> dialogs_;
  bool checkDialogs_ = false;
  PresetFileChooser* chooser_ = nullptr;  // owned by the file chooser slot
  QPointer<CMainWnd> window_;
};

// The files of folder whose name contains part.
std::vector<std::string> FilesContaining(const std::string& folder, const std::string& part);

}  // namespace tw::test
