// The prompt dialog: "msgText" with the message and "msgConfirm" (1), in a client area of the
// width given at construction and the height given, or taller when the wrapped message needs it.
// Window thread only.
#pragma once

#include "ui/dialogs/SkinDialog.h"

class QLabel;
class QPushButton;

namespace tw {

class PromptBoxDialog : public SkinDialog {
  Q_OBJECT
 public:
  PromptBoxDialog(QWidget* owner, QString text, int clientWidth, int clientHeight)
      : SkinDialog(owner, std::move(text)), clientWidth_(clientWidth), clientHeight_(clientHeight) {}

  QString GetSkinFile() const override { return QStringLiteral("PromptBox.xml"); }
  QString GetWindowClassName() const override { return QStringLiteral("PromptBoxDialog"); }

  // The whole calling sequence; 1 when confirmed, 0 when closed otherwise or when the dialog
  // cannot be built (logged with its "PromptBoxDialog::..." text).
  static int Show(QWidget* owner, const QString& text, int clientWidth = 200, int clientHeight = 100);

  int ClientWidth() const { return clientWidth_; }
  int ClientHeight() const { return clientHeight_; }

 protected:
  void InitWindow() override;
  void Notify(const QString& type, QObject* sender) override;
  bool HasShadow() const override { return true; }

 private:
  int clientWidth_;
  int clientHeight_;
  QLabel* msgText_ = nullptr;
  QPushButton* msgConfirm_ = nullptr;
};

}  // namespace tw
