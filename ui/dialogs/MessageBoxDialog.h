// The confirm dialog: "msgText" with the question, "msgConfirm" (1) and "msgCancel" (0).
// Window thread only.
#pragma once

#include "ui/dialogs/SkinDialog.h"

class QLabel;
class QPushButton;

namespace tw {

class MessageBoxDialog : public SkinDialog {
  Q_OBJECT
 public:
  MessageBoxDialog(QWidget* owner, QString text) : SkinDialog(owner, std::move(text)) {}

  QString GetSkinFile() const override { return QStringLiteral("MessageBox.xml"); }
  QString GetWindowClassName() const override { return QStringLiteral("MessageBoxDialog"); }

  // The whole calling sequence: create, centre, run modally. 1 confirmed, 0 not (also when the
  // dialog cannot be built; the failure is logged with its "MessageBoxDialog::..." text).
  static int Show(QWidget* owner, const QString& text);

 protected:
  void InitWindow() override;
  void Notify(const QString& type, QObject* sender) override;
  bool HasShadow() const override { return true; }

 private:
  QLabel* msgText_ = nullptr;
  QPushButton* msgConfirm_ = nullptr;
  QPushButton* msgCancel_ = nullptr;
};

}  // namespace tw
