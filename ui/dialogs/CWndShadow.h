// A soft drop shadow behind a frameless window: a frameless, translucent, click-through tool
// window that follows its parent (move, resize, show, hide, minimise, maximise) and shows the
// picture of RenderShadow for the parent's shape (its mask). Shadows need a compositor; without
// one (or on the offscreen platform) attaching does nothing and the parent shows alone.
// Window thread only; the object is embedded in its dialog and lives as long as it.
#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <memory>

#include "ui/dialogs/ShadowImage.h"

class QWidget;

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

  void AttachToWindow(QWidget* parent);

  // Out-of-range values are refused (false) and change nothing; otherwise the value is kept and
  // a visible shadow is rebuilt at once.
  bool SetShadowSize(int size);              // -20..20
  bool SetShadowOffset(int x, int y);        // each -20..20
  bool SetShadowColour(std::uint32_t colour);
  bool SetDarkness(int darkness);            // 0..255
  bool SetSharpness(int sharpness);          // 0..20

  const ShadowParams& Params() const { return params_; }
  bool Attached() const { return window_ != nullptr; }
  bool Visible() const { return status_ & kVisible; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  enum : std::uint8_t { kEnabled = 1, kVisible = 2, kParentVisible = 4 };
  class ShadowWindow;

  void Rebuild();
  void MoveToParent();
  void ShowShadow();
  void HideShadow();

  ShadowParams params_;
  QPointer<QWidget> parent_;
  std::unique_ptr<ShadowWindow> window_;
  std::uint8_t status_ = 0;
  int lastWidth_ = 0;
  int lastHeight_ = 0;
  bool updatePending_ = false;
};

}  // namespace tw
