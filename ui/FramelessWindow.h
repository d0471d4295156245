// Gives a frameless top-level window what a window frame gives: its edges and corners resize
// it (a strip of `border` px inside the window, kept clear by the window's layout margins), its
// title bar moves it, and a double-click on the title bar or the maximise button maximises and
// restores it. The window manager does the moving and resizing where it can (X11, Wayland);
// without one the window follows the pointer itself. Window thread only.
#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>

class QAbstractButton;
class QWidget;

namespace tw {

// The window edges a pointer at x, y of a window of width × height resizes: those whose strip
// of border px holds it; near a corner (within `corner` px along the edge) both edges of it.
Qt::Edges ResizeEdgesAt(int width, int height, int x, int y, int border, int corner);

class FramelessWindow : public QObject {
 public:
  static constexpr int kBorder = 4;
  static constexpr int kCorner = 16;

  // maximizeButton (may be null) shows the state: its property "maximized" and its tooltip;
  // its click is the owner's to route to ToggleMaximized. The window's layout margins become
  // the border strip.
  FramelessWindow(QWidget* window, QWidget* titleBar, QAbstractButton* maximizeButton);

  void ToggleMaximized();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool WindowEvent(QEvent* event);
  bool TitleBarEvent(QEvent* event);
  void StateChanged();
  void SetEdgeCursor(Qt::Edges edges);

  QPointer<QWidget> window_;
  QPointer<QWidget> titleBar_;
  QPointer<QAbstractButton> maximize_;
  // A resize or move the window does itself (no window manager to hand it to).
  Qt::Edges manualEdges_;
  bool manualMove_ = false;
  bool titlePressed_ = false;
  QPoint pressGlobal_;
  QRect pressGeometry_;
};

}  // namespace tw
