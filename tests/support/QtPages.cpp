#include "tests/support/QtPages.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QSlider>
#include <QTextDocument>
#include <QThread>
#include <filesystem>

#include "app/SettingsFile.h"
#include "tests/support/TestMedia.h"
#include "ui/Skin.h"
#include "ui/pages/FileList.h"

namespace tw::test {

void Pump() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
  }
}

QString ShownToolTip(const QWidget* widget) {
  const QString tip = widget ? widget->toolTip() : QString();
  if (!Qt::mightBeRichText(tip)) return tip;
  QTextDocument shown;
  shown.setHtml(tip);
  return shown.toPlainText().replace(QChar::LineSeparator, '\n');
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QThread::msleep(5);
  }
  return true;
}

UrlCatcher::UrlCatcher() {
  QDesktopServices::setUrlHandler("file", this, "open");
}
UrlCatcher::~UrlCatcher() {
  QDesktopServices::unsetUrlHandler("file");
}

void PageWindowTest::SetUp() {
  opened_ = std::make_unique<UrlCatcher>();
  dialogs_ = std::make_unique<ExpectedDialogs>();
  outputDir_ = TempDir();
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyWindowClose, "0");
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyOutputDir, outputDir_);
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyAudioQuality, "0");
  auto chooser = std::make_unique<PresetFileChooser>();
  chooser_ = chooser.get();
  SetFileChooser(std::move(chooser));
  window_ = new CMainWnd();
  QString error;
  ASSERT_TRUE(window_->Create(&error)) << error.toStdString();
  window_->show();
  Pump();
  if (changingFactors_) {
    Click("speed-2-0");
    FindControl<QSlider>(window_->Root(), "change-volume-slider")->setValue(50);
  }
}

void PageWindowTest::TearDown() {
  if (checkDialogs_) dialogs_->Check();
  delete window_.data();
  SetFileChooser(nullptr);
  chooser_ = nullptr;
  Pump();
  dialogs_.reset();
  opened_.reset();
}

void PageWindowTest::AddThroughDialog(OperationKind kind, const QStringList& files) {
  chooser_->AddFiles(files);
  Click(AddButtonName(kind));
  WaitForRows();
}

void PageWindowTest::WaitForRows() {
  ASSERT_TRUE(WaitUntil([this] { return !window_->Prober()->Busy(); }));
  Pump();
}

void PageWindowTest::Click(const QString& name) {
  auto* button = FindControl<QAbstractButton>(window_->Root(), name);
  ASSERT_NE(button, nullptr) << name.toStdString();
  button->click();
  Pump();
}

QWidget* PageWindowTest::Row(OperationKind kind, int taskId) const {
  return PageOf(kind)->FindRow(taskId);
}

void PageWindowTest::ClickRow(OperationKind kind, int taskId, const QString& button) {
  QWidget* row = Row(kind, taskId);
  ASSERT_NE(row, nullptr) << "no row " << taskId;
  auto* b = row->findChild<QAbstractButton*>(button);
  ASSERT_NE(b, nullptr) << button.toStdString();
  b->click();
  Pump();
}

int PageWindowTest::RowId(OperationKind kind, int index) const {
  QWidget* row = RowAt(PageOf(kind)->List(), index);
  return row ? GetTag(row) : -1;
}

int PageWindowTest::Rows(OperationKind kind) const {
  return RowCount(PageOf(kind)->List());
}

QString PageWindowTest::RowText(OperationKind kind, int taskId, const QString& label) const {
  QWidget* row = Row(kind, taskId);
  auto* l = row ? row->findChild<QLabel*>(label) : nullptr;
  return l ? l->text() : QString();
}

bool PageWindowTest::RowDone(OperationKind kind, int taskId) const {
  QWidget* row = Row(kind, taskId);
  if (!row) return false;
  const RowSpec* spec = FindRowSpec(kind);
  auto* button = row->findChild<QWidget*>(spec->actionButton);
  // 100 % shows while the last of the result is still being written: done is when no job holds
  // the row any more.
  return RowIsDone(row) && button && IsMouseEnabled(button) &&
         !window_->Queue()->Holds({kind, taskId});
}

bool PageWindowTest::MergeOver() const {
  return !window_->Queue()->Holds({OperationKind::Merge, kMergeTaskId});
}

std::vector<std::string> FilesContaining(const std::string& folder, const std::string& part) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = item.path().filename().string();
    if (name.find(part) != std::string::npos) found.push_back(item.path().string());
  }
  return found;
}

}  // namespace tw::test
