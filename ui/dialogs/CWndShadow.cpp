#include "ui/dialogs/CWndShadow.h"

#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRegion>
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
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 1, static_cast<uint16_t>(atomName.size()), atomName.data()), nullptr);
    if (!atom) return false;
    const xcb_atom_t a = atom->atom;
    free(atom);
    if (a == XCB_ATOM_NONE) return false;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, a), nullptr);
    const bool owned = owner && owner->owner != XCB_WINDOW_NONE;
    free(owner);
    return owned;
  }
#endif
  return false;
}

std::vector<ShadowSpan> SpansOf(const QRegion& shape, QSize size) {
  return SpansFromShape(size.width(), size.height(),
                        [&shape](int x, int y) { return shape.contains(QPoint(x, y)); });
}

}  // namespace

CWndShadow::CWndShadow() = default;

CWndShadow::~CWndShadow() {
  if (window_) window_->removeEventFilter(this);
}

bool CWndShadow::RegisterShadowClass() {
  if (Registered()) return false;
  Registered() = true;
  Enabled() = CompositorRuns();
  return Enabled();
}

bool CWndShadow::ShadowsEnabled() {
  return Enabled();
}

void CWndShadow::AttachToWindow(QWidget* window, QWidget* body) {
  if (!Enabled() || !window || !body) return;
  window_ = window;
  body_ = body;
  // Before the native window is made: the surface gets an alpha channel.
  window->setAttribute(Qt::WA_TranslucentBackground);
  window->setAttribute(Qt::WA_NoSystemBackground);
  window->installEventFilter(this);
  ApplyMargins();
}

QMargins CWndShadow::Margins() const {
  if (!window_) return {};
  const ShadowMargins m = MarginsOf(params_);
  return {m.left, m.top, m.right, m.bottom};
}

void CWndShadow::ApplyMargins() {
  if (!window_) return;
  const QMargins old = window_->contentsMargins();
  const QMargins now = Margins();
  if (old == now) return;
  // The body keeps its size; the window grows or shrinks around it.
  const QSize body = window_->size().shrunkBy(old);
  window_->setContentsMargins(now);
  window_->resize(body.grownBy(now));
}

bool CWndShadow::SetShadowSize(int size) {
  if (size < -20 || size > 20) return false;
  params_.size = size;
  Changed();
  return true;
}

bool CWndShadow::SetShadowOffset(int x, int y) {
  if (x < -20 || x > 20 || y < -20 || y > 20) return false;
  params_.xOffset = x;
  params_.yOffset = y;
  Changed();
  return true;
}

bool CWndShadow::SetShadowColour(std::uint32_t colour) {
  params_.colour = colour & 0xFFFFFF;
  Changed();
  return true;
}

bool CWndShadow::SetDarkness(int darkness) {
  if (darkness < 0 || darkness > 255) return false;
  params_.darkness = darkness;
  Changed();
  return true;
}

bool CWndShadow::SetSharpness(int sharpness) {
  if (sharpness < 0 || sharpness > 20) return false;
  params_.sharpness = sharpness;
  Changed();
  return true;
}

void CWndShadow::Changed() {
  stale_ = true;
  if (!window_) return;
  ApplyMargins();
  window_->update();
}

// The picture is made again only when the body's size, place or shape changed: a move of the
// window changes none of them.
void CWndShadow::RebuildIfChanged() {
  if (!window_ || !body_) return;
  const QRect body = body_->geometry();
  const QRegion shape = body_->mask().isEmpty() ? QRegion(0, 0, body.width(), body.height()) : body_->mask();
  if (!stale_ && body == builtBody_ && shape == builtShape_) return;
  stale_ = false;
  builtBody_ = body;
  builtShape_ = shape;
  const ShadowImage shadow = RenderShadow(params_, SpansOf(shape, body.size()), body.width(), body.height());
  const QImage view(reinterpret_cast<const uchar*>(shadow.pixels.data()), shadow.width, shadow.height,
                    shadow.width * 4, QImage::Format_ARGB32_Premultiplied);
  image_ = view.copy();
  imageRect_ = QRect(body.topLeft() + QPoint(params_.xOffset - params_.size, params_.yOffset - params_.size),
                     image_.size());
}

bool CWndShadow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_ && event->type() == QEvent::Paint) {
    RebuildIfChanged();
    QPainter painter(window_);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(imageRect_.topLeft(), image_);
  }
  return false;
}

}  // namespace tw
