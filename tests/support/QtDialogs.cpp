#include "tests/support/QtDialogs.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QTimer>

namespace tw::test {

std::shared_ptr<ModalAnswer> AnswerNextModal(const QString& button, int timeoutMs) {
  auto answer = std::make_shared<ModalAnswer>();
  auto* timer = new QTimer(qApp);
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, answer, button, clock, timeoutMs] {
    if (answer->cancelled) {
      timer->stop();
      timer->deleteLater();
      return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (modal) {
      if (auto* b = modal->findChild<QAbstractButton*>(button)) {
        answer->dialogClass = modal->objectName();
        if (auto* text = modal->findChild<QLabel*>("msgText")) answer->text = text->text();
        answer->answered = true;
        timer->stop();
        timer->deleteLater();
        b->click();
        return;
      }
    }
    if (clock->elapsed() > timeoutMs) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start();
  return answer;
}

DialogRecorder::DialogRecorder() {
  qApp->installEventFilter(this);
}

DialogRecorder::~DialogRecorder() {
  qApp->removeEventFilter(this);
}

QStringList DialogRecorder::Texts() const {
  QStringList texts;
  for (const Shown& s : opened_) texts << (s.text.isEmpty() ? s.dialogClass : s.text);
  return texts;
}

void ExpectedDialogs::Check() const {
  EXPECT_EQ(Texts(), expected_) << "the dialogs that opened";
}

bool DialogRecorder::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show && watched->isWidgetType()) {
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->isWindow() && (qobject_cast<QDialog*>(widget) || widget->isModal())) {
      const auto* text = widget->findChild<QLabel*>("msgText");
      opened_.append({widget->objectName(), text ? text->text() : QString()});
    }
  }
  return false;
}

QStringList PresetFileChooser::OpenFiles(QWidget*, const std::vector<FileFilter>& filters, bool multiple) {
  lastFilters = filters;
  lastMultiple = multiple;
  if (files_.isEmpty()) return {};
  return files_.takeFirst();
}

QString PresetFileChooser::ChooseFolder(QWidget*, const QString& startFolder, const QString& title) {
  lastStartFolder = startFolder;
  lastFolderTitle = title;
  return folders_.isEmpty() ? QString() : folders_.takeFirst();
}

}  // namespace tw::test
