#include "tests/support/QtModalScript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

namespace tw::test {

std::function<bool(QWidget*)> Press(const QString& button) {
  return [button](QWidget* dialog) {
    auto* b = dialog->findChild<QAbstractButton*>(button);
    if (!b || !b->isEnabled()) return false;
    b->click();
    return true;
  };
}

std::shared_ptr<ModalScriptState> RunModalScript(std::vector<ModalStep> steps, int timeoutMs) {
  auto state = std::make_shared<ModalScriptState>();
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  auto* timer = new QTimer(qApp);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, timer, [=, steps = std::move(steps)] {
    const auto finish = [timer] {
      timer->stop();
      timer->deleteLater();
    };
    if (state->stop || state->done >= static_cast<int>(steps.size()) || clock->elapsed() > timeoutMs)
      return finish();
    QWidget* modal = QApplication::activeModalWidget();
    const ModalStep& step = steps[static_cast<size_t>(state->done)];
    if (!modal || !modal->isVisible() || modal->objectName() != step.dialogClass) return;
    const auto* text = modal->findChild<QLabel*>("msgText");
    const QString shown = text ? text->text() : QString();
    if (!step.act(modal)) return;
    state->texts << shown;
    ++state->done;
  });
  timer->start();
  return state;
}

}  // namespace tw::test
