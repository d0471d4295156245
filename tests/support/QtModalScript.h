// A script of answers for a chain of modal dialogs (an offer, then a download, then a prompt):
// each step waits until the visible active modal dialog is of its class (its object name),
// then acts on it. Steps run in order from one timer; a dialog that a step closed is hidden at
// once, so the next step never finds it.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QWidget;

namespace tw::test {

struct ModalStep {
  QString dialogClass;                // "MessageBoxDialog", "升级下载", "意见反馈"
  std::function<bool(QWidget*)> act;  // true when the step is done (false: try again later)
};

struct ModalScriptState {
  int done = 0;       // steps carried out
  QStringList texts;  // the "msgText" of each answered dialog ("" when it has none)
  bool stop = false;  // set by the test: the script ends at its next tick
};

// Presses button of the dialog.
std::function<bool(QWidget*)> Press(const QString& button);

std::shared_ptr<ModalScriptState> RunModalScript(std::vector<ModalStep> steps, int timeoutMs = 30000);

}  // namespace tw::test
