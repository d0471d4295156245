// A soft drop shadow painted inside its window's own translucent surface. The window keeps
// margins as wide as the shadow around its body (the child that holds its content) and the
// picture of RenderShadow for the body's shape is painted into them, so window and shadow are
// one surface: the window system moves, stacks, minimises, focuses and places them as one, on
// X11 and on Wayland alike. Shadows need a compositor (any Wayland session; an X11 screen whose
// _NET_WM_CM selection is owned); without one (or on the offscreen platform) attaching does
// nothing and the window shows alone, without margins.
// Window thread only; the object is embedded in its window and lives as long as it.
#pragma once

#include <QImage>
#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QRegion>
#include <QWidget>
#include <cstdint>

#include "ui/dialogs/ShadowImage.h"

namespace tw {

class CWndShadow : public QObject {
  Q_OBJECT
 public:
  CWndShadow();
  ~CWndShadow() override;

  // Once per process: whether shadows can be shown here (a compositor runs). A second call
  // returns false; shadows keep the first answer.
  static bool RegisterShadowClass();
  static bool ShadowsEnabled();

  // Makes window's surface translucent with Margins() around its contents, where body (a child
  // laid out in the contents) casts its shadow: its mask when it has one, else its rectangle.
  // Does nothing while shadows are disabled.
  void AttachToWindow(QWidget* window, QWidget* body);

  // Out-of-range values are refused (false) and change nothing; otherwise the value is kept and
  // an attached shadow is redrawn with it.
  bool SetShadowSize(int size);        // -20..20
  bool SetShadowOffset(int x, int y);  // each -20..20
  bool SetShadowColour(std::uint32_t colour);
  bool SetDarkness(int darkness);    // 0..255
  bool SetSharpness(int sharpness);  // 0..20

  const ShadowParams& Params() const { return params_; }
  bool Attached() const { return window_ != nullptr; }
  // The window's margins around the body; zero while not attached.
  QMargins Margins() const;
  // Where the picture lies in the window, and the picture itself, as last painted.
  QRect ImageRect() const { return imageRect_; }
  const QImage& Image() const { return image_; }

 protected:
  // A paint of the window draws the picture first; its children then paint over it.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ApplyMargins();
  void RebuildIfChanged();
  void Changed();

  ShadowParams params_;
  QPointer<QWidget> window_;
  QPointer<QWidget> body_;
  QImage image_;
  QRect imageRect_;
  QRect builtBody_;     // the body's geometry the picture was made for
  QRegion builtShape_;  // and its mask
  bool stale_ = true;
};

}  // namespace tw
