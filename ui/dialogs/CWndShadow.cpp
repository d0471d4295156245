#include "ui/dialogs/CWndShadow.h"

#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRegion>
#include <QResizeEvent>
#include <QWidget>

#ifdef TW_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace tw {
namespace {

bool& Registered() {
  static bool registered = false;
  return registered;
}
bool& Enabled() {
  static bool enabled = false;
  return enabled;
}

// True when a compositing manager owns the screen's _NET_WM_CM selection (X11), or on
// Wayland, where every surface is composited.
bool CompositorRuns() {
  const QString platform = QGuiApplication::platformName();
  if (platform.startsWith("wayland")) return true;
#ifdef TW_HAVE_XCB
  if (platform == "xcb") {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return false;
    const QByteArray atomName = "_NET_WM_CM_S0";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, static_cast<uint16_t>(atomName.size()), atomName.data()), nullptr);
    if (!atom) return false;
    const xcb_atom_t a = atom->atom;
    free(atom);
    if (a == XCB_ATOM_NONE) return false;
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, a), nullptr);
    const bool owned = owner && owner->owner != XCB_WINDOW_NONE;
    free(owner);
    return owned;
  }
#endif
  return false;
}

std::vector<ShadowSpan> SpansOf(const QWidget* w) {
  const QRegion mask = w->mask();
  if (mask.isEmpty()) return {};
  return SpansFromShape(w->width(), w->height(), [&mask](int x, int y) { return mask.contains(QPoint(x, y)); });
}

}  // namespace

class CWndShadow::ShadowWindow : public QWidget {
 public:
  ShadowWindow()
      : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                             Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  void SetImage(QImage image) {
    image_ = std::move(image);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(0, 0, image_);
  }

 private:
  QImage image_;
};

CWndShadow::CWndShadow() = default;

CWndShadow::~CWndShadow() {
  if (parent_) parent_->removeEventFilter(this);
}

bool CWndShadow::RegisterShadowClass() {
  if (Registered()) return false;
  Registered() = true;
  Enabled() = CompositorRuns();
  return Enabled();
}

bool CWndShadow::ShadowsEnabled() { return Enabled(); }

void CWndShadow::AttachToWindow(QWidget* parent) {
  if (!Enabled() || !parent) return;
  parent_ = parent;
  window_ = std::make_unique<ShadowWindow>();
  status_ = kEnabled;
  if (parent->isVisible()) {
    status_ |= kParentVisible;
    if (!(parent->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))) {
      ShowShadow();
      Rebuild();
    }
  }
  parent->installEventFilter(this);
}

bool CWndShadow::SetShadowSize(int size) {
  if (size < -20 || size > 20) return false;
  params_.size = size;
  if (Visible()) Rebuild();
  return true;
}

bool CWndShadow::SetShadowOffset(int x, int y) {
  if (x < -20 || x > 20 || y < -20 || y > 20) return false;
  params_.xOffset = x;
  params_.yOffset = y;
  if (Visible()) Rebuild();
  return true;
}

bool CWndShadow::SetShadowColour(std::uint32_t colour) {
  params_.colour = colour & 0xFFFFFF;
  if (Visible()) Rebuild();
  return true;
}

bool CWndShadow::SetDarkness(int darkness) {
  if (darkness < 0 || darkness > 255) return false;
  params_.darkness = darkness;
  if (Visible()) Rebuild();
  return true;
}

bool CWndShadow::SetSharpness(int sharpness) {
  if (sharpness < 0 || sharpness > 20) return false;
  params_.sharpness = sharpness;
  if (Visible()) Rebuild();
  return true;
}

void CWndShadow::MoveToParent() {
  if (!window_ || !parent_) return;
  const QRect frame = parent_->frameGeometry();
  window_->move(frame.left() + params_.xOffset - params_.size, frame.top() + params_.yOffset - params_.size);
}

void CWndShadow::Rebuild() {
  if (!window_ || !parent_) return;
  const ShadowImage shadow = RenderShadow(params_, SpansOf(parent_), parent_->width(), parent_->height());
  QImage image(reinterpret_cast<const uchar*>(shadow.pixels.data()), shadow.width, shadow.height,
               shadow.width * 4, QImage::Format_ARGB32_Premultiplied);
  window_->resize(shadow.width, shadow.height);
  MoveToParent();
  window_->SetImage(image.copy());
}

void CWndShadow::ShowShadow() {
  if (!window_) return;
  status_ |= kVisible;
  window_->show();
  if (parent_) parent_->raise();
}

void CWndShadow::HideShadow() {
  if (window_) window_->hide();
  status_ &= static_cast<std::uint8_t>(~kVisible);
}

bool CWndShadow::eventFilter(QObject* watched, QEvent* event) {
  if (watched != parent_ || !window_) return false;
  switch (event->type()) {
    case QEvent::Move:
      if (Visible()) MoveToParent();
      break;
    case QEvent::Resize: {
      const QSize s = static_cast<QResizeEvent*>(event)->size();
      if (status_ & kParentVisible) {
        if (s.width() > lastWidth_ || s.height() > lastHeight_)
          updatePending_ = true;
        else
          Rebuild();
        if (!Visible()) ShowShadow();
      }
      lastWidth_ = s.width();
      lastHeight_ = s.height();
      break;
    }
    case QEvent::WindowStateChange:
      if (parent_->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)) {
        HideShadow();
      } else if (status_ & kParentVisible) {
        ShowShadow();
        Rebuild();
      }
      break;
    case QEvent::Paint:
    case QEvent::UpdateRequest:
      if (updatePending_) {
        updatePending_ = false;
        Rebuild();
      }
      break;
    case QEvent::Show:
      if (!(status_ & kParentVisible)) {
        updatePending_ = true;
        ShowShadow();
        status_ |= kVisible | kParentVisible;
        Rebuild();
      }
      break;
    case QEvent::Hide:
      HideShadow();
      status_ &= static_cast<std::uint8_t>(~kParentVisible);
      break;
    case QEvent::Destroy:
      window_.reset();
      break;
    default:
      break;
  }
  return false;
}

}  // namespace tw
