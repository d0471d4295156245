// The pattern every dialog of Tunewell follows: it names its layout (GetSkinFile) and window
// class name, builds the layout when created, finds its controls in InitWindow, answers the
// "click" of its buttons in Notify by closing with a result code, and is shown modally over its
// owner, its parent: centred by the program on X11, placed by the compositor on Wayland. The
// layout's "title-bar" drags the dialog. Shown through ShowModal, a dialog owns and deletes
// itself: do not touch it after ShowModal returns.
//
// Set-up failures throw DialogError with the text "<Class>::GetSkinFile" or "<Class>::Init";
// the static Show helpers of the dialogs catch it, log it and answer 0, so nothing is thrown
// beyond the dialogs. Tests reach an open modal dialog with QApplication::activeModalWidget()
// and press its buttons by name. Window thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <stdexcept>

#include "ui/dialogs/CWndShadow.h"

namespace tw {

class NotifyAdapter;

class DialogError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Builds the layout skinFile into host, filling it edge to edge, and names host className.
// Throws DialogError("<errorName>::GetSkinFile") when the layout cannot be built.
QWidget* BuildSkinForm(QWidget* host, const QString& skinFile, const QString& className,
                       const QString& errorName);

class SkinDialog : public QDialog {
  Q_OBJECT
 public:
  SkinDialog(QWidget* owner, QString text);
  ~SkinDialog() override;

  virtual QString GetSkinFile() const = 0;
  virtual QString GetWindowClassName() const = 0;

  // Builds the layout and the controls (OnCreate, then InitWindow). Throws DialogError.
  void Create();
  // Centres over the owner (or the screen) where the program may place windows (not on Wayland).
  void CenterWindow();
  // Runs modally and returns the code given to Close; the dialog deletes itself.
  int ShowModal();
  // Create, then ShowModal, for a dialog made with new: a layout that cannot be built is logged,
  // the dialog deleted and 0 returned.
  static int CreateAndShowModal(SkinDialog* dialog);
  void Close(int result);

  const QString& Text() const { return text_; }
  // The dialog less the margins its shadow keeps around it: what the layout fills.
  QSize ClientSize() const { return contentsRect().size(); }
  const CWndShadow& Shadow() const { return shadow_; }

 protected:
  // Finds the controls and fills them; throws DialogError("<Class>::Init") on a missing one.
  virtual void InitWindow() = 0;
  // "click" of a button closes with its result; the base passes everything else on.
  virtual void Notify(const QString& type, QObject* sender);
  // The message and prompt dialogs drop their caption and carry a shadow.
  virtual bool HasShadow() const { return false; }
  // Dialogs with a shadow get a shape with cut corners, which the shadow follows.
  void resizeEvent(QResizeEvent* event) override;
  // The title bar's drag moves the dialog.
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Fixes the client width and makes the client as tall as the layout needs for its texts at
  // that width, and at least minHeight.
  void FitClientHeight(int width, int minHeight);

  // The control called name in the layout, or DialogError("<Class>::Init").
  template <class T>
  T* Require(const char* name) {
    T* control = form_ ? form_->findChild<T*>(name) : nullptr;
    if (!control) throw DialogError((GetWindowClassName() + "::Init").toStdString());
    return control;
  }

  QWidget* form_ = nullptr;
  QSize designSize_;  // the layout's own size
  QString text_;

 private:
  void OnCreate();

  NotifyAdapter* notify_ = nullptr;
  CWndShadow shadow_;
  QWidget* titleBar_ = nullptr;  // child of form_
  QPoint dragOffset_;  // where the title bar was grabbed, while a drag runs without the window manager
  bool dragging_ = false;
};

}  // namespace tw
