// The progress window of long loads ("正在加载波形..."): "msgText" and "loadProgress" with
// the percentage. Made once by the main window, hidden, shown and hidden again as the
// waveform reader reports; never modal, no buttons. Window thread only.
#pragma once

#include "ui/dialogs/SkinDialog.h"

class QLabel;

namespace tw {

class LoadingDialog : public SkinDialog {
  Q_OBJECT
 public:
  LoadingDialog(QWidget* owner, QString text) : SkinDialog(owner, std::move(text)) {}

  QString GetSkinFile() const override { return QStringLiteral("LoadingDialog.xml"); }
  QString GetWindowClassName() const override { return QStringLiteral("LoadingDialog"); }

  // "loadProgress" shows percent followed by "%".
  void SetProgress(int percent);
  QString ProgressText() const;

 protected:
  void InitWindow() override;

 private:
  QLabel* msgText_ = nullptr;
  QLabel* loadProgress_ = nullptr;
};

}  // namespace tw
