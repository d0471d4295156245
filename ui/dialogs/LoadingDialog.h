// The progress box of long loads ("正在加载波形..."): "msgText" and "loadProgress" with the
// percentage. It is an overlay inside its owner (the main window), not a window of its own, so
// it lies over the owner wherever the owner is and however the window system places windows; it
// stays centred in the owner when the owner is resized. Made once by the main window, hidden,
// shown and hidden again as the waveform reader reports; never modal, no buttons.
// Window thread only.
#pragma once

#include <QWidget>

class QLabel;

namespace tw {

class LoadingDialog : public QWidget {
  Q_OBJECT
 public:
  // owner: the window the box lies in; it owns the box.
  LoadingDialog(QWidget* owner, QString text);

  QString GetSkinFile() const { return QStringLiteral("LoadingDialog.xml"); }
  QString GetWindowClassName() const { return QStringLiteral("LoadingDialog"); }

  // Builds the layout and fills it; throws DialogError ("LoadingDialog::GetSkinFile", "::Init").
  void Create();
  // Centres the box in its owner.
  void CenterWindow();

  // "loadProgress" shows percent followed by "%".
  void SetProgress(int percent);
  QString ProgressText() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QString text_;
  QLabel* msgText_ = nullptr;
  QLabel* loadProgress_ = nullptr;
};

}  // namespace tw
