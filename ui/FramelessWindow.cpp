#include "ui/FramelessWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QLayout>
#include <QMouseEvent>
#include <QStyle>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace tw {

Qt::Edges ResizeEdgesAt(int width, int height, int x, int y, int border, int corner) {
  Qt::Edges edges;
  if (x < 0 || y < 0 || x >= width || y >= height) return edges;
  const bool left = x < border, right = x >= width - border;
  const bool top = y < border, bottom = y >= height - border;
  if (!(left || right || top || bottom)) return edges;
  if (left || ((top || bottom) && x < corner)) edges |= Qt::LeftEdge;
  if (right || ((top || bottom) && x >= width - corner)) edges |= Qt::RightEdge;
  if (top || ((left || right) && y < corner)) edges |= Qt::TopEdge;
  if (bottom || ((left || right) && y >= height - corner)) edges |= Qt::BottomEdge;
  return edges;
}

FramelessWindow::FramelessWindow(QWidget* window, QWidget* titleBar, QAbstractButton* maximizeButton)
    : QObject(window), window_(window), titleBar_(titleBar), maximize_(maximizeButton) {
  window->setMouseTracking(true);  // the resize cursors over the border strip
  window->setAttribute(Qt::WA_StyledBackground);
  window->installEventFilter(this);
  if (titleBar) titleBar->installEventFilter(this);
  StateChanged();
}

void FramelessWindow::ToggleMaximized() {
  if (!window_) return;
  if (window_->isMaximized())
    window_->showNormal();
  else
    window_->showMaximized();
}

void FramelessWindow::StateChanged() {
  const bool maximized = window_->isMaximized() || window_->isFullScreen();
  // A maximised window has no edge to take.
  const int border = maximized ? 0 : kBorder;
  if (QLayout* layout = window_->layout()) layout->setContentsMargins(border, border, border, border);
  if (maximize_) {
    maximize_->setProperty("maximized", maximized);
    maximize_->setToolTip(maximized ? QCoreApplication::translate("FramelessWindow", "还原")
                                    : QCoreApplication::translate("FramelessWindow", "最大化"));
    maximize_->style()->unpolish(maximize_);
    maximize_->style()->polish(maximize_);
  }
}

void FramelessWindow::SetEdgeCursor(Qt::Edges edges) {
  const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
  const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
  if (horizontal && vertical) {
    const bool falling = (edges.testFlag(Qt::LeftEdge) && edges.testFlag(Qt::TopEdge)) ||
                         (edges.testFlag(Qt::RightEdge) && edges.testFlag(Qt::BottomEdge));
    window_->setCursor(falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor);
  } else if (horizontal) {
    window_->setCursor(Qt::SizeHorCursor);
  } else if (vertical) {
    window_->setCursor(Qt::SizeVerCursor);
  } else {
    window_->unsetCursor();
  }
}

bool FramelessWindow::eventFilter(QObject* watched, QEvent* event) {
  if (!window_) return false;
  if (watched == window_) return WindowEvent(event);
  if (watched == titleBar_) return TitleBarEvent(event);
  return false;
}

bool FramelessWindow::WindowEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::WindowStateChange:
      StateChanged();
      return false;
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      const QPoint at = mouse->position().toPoint();
      const Qt::Edges edges = window_->isMaximized() ? Qt::Edges()
                                                     : ResizeEdgesAt(window_->width(), window_->height(),
                                                                     at.x(), at.y(), kBorder, kCorner);
      if (mouse->button() != Qt::LeftButton || !edges) return false;
      QWindow* handle = window_->windowHandle();
      if (!handle || !handle->startSystemResize(edges)) {
        manualEdges_ = edges;
        pressGlobal_ = mouse->globalPosition().toPoint();
        pressGeometry_ = window_->geometry();
      }
      return true;
    }
    case QEvent::MouseMove: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (!manualEdges_) {
        const QPoint at = mouse->position().toPoint();
        SetEdgeCursor(window_->isMaximized() ? Qt::Edges()
                                             : ResizeEdgesAt(window_->width(), window_->height(), at.x(),
                                                             at.y(), kBorder, kCorner));
        return false;
      }
      const QPoint delta = mouse->globalPosition().toPoint() - pressGlobal_;
      QRect r = pressGeometry_;
      const QSize least = window_->minimumSize();
      if (manualEdges_ & Qt::LeftEdge)
        r.setLeft(std::min(r.left() + delta.x(), r.right() - least.width() + 1));
      if (manualEdges_ & Qt::RightEdge)
        r.setRight(std::max(r.right() + delta.x(), r.left() + least.width() - 1));
      if (manualEdges_ & Qt::TopEdge)
        r.setTop(std::min(r.top() + delta.y(), r.bottom() - least.height() + 1));
      if (manualEdges_ & Qt::BottomEdge)
        r.setBottom(std::max(r.bottom() + delta.y(), r.top() + least.height() - 1));
      window_->setGeometry(r);
      return true;
    }
    case QEvent::MouseButtonRelease:
      if (!manualEdges_) return false;
      manualEdges_ = {};
      return true;
    case QEvent::Leave:
      if (!manualEdges_) window_->unsetCursor();
      return false;
    default:
      return false;
  }
}

bool FramelessWindow::TitleBarEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonDblClick:
      if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) return false;
      titlePressed_ = manualMove_ = false;
      ToggleMaximized();
      return true;
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton) return false;
      titlePressed_ = true;
      pressGlobal_ = mouse->globalPosition().toPoint();
      pressGeometry_ = window_->geometry();
      return true;
    }
    case QEvent::MouseMove: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      const QPoint global = mouse->globalPosition().toPoint();
      if (manualMove_) {
        window_->move(pressGeometry_.topLeft() + (global - pressGlobal_));
        return true;
      }
      // The move starts once the pointer has left the press, so that a double-click still
      // reaches the title bar.
      if (!titlePressed_ || (global - pressGlobal_).manhattanLength() < QApplication::startDragDistance())
        return false;
      titlePressed_ = false;
      QWindow* handle = window_->windowHandle();
      if (!handle || !handle->startSystemMove()) manualMove_ = !window_->isMaximized();
      return true;
    }
    case QEvent::MouseButtonRelease:
      titlePressed_ = manualMove_ = false;
      return false;
    default:
      return false;
  }
}

}  // namespace tw
