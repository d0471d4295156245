// The main window behaves like a framed one: its edges resize it (by the pointer itself where no
// window manager takes over), and under a real window manager on Xvfb a double-click on the
// title bar maximises it and the maximise button restores it, with the waveform view's width
// following the window.
#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

#include "tests/support/QtPages.h"
#include "tests/support/TestDesktop.h"
#include "ui/FramelessWindow.h"

namespace tw {
namespace {

using test::Pump;
using test::WaitUntil;

TEST(FramelessWindowEdgesTest, TheBorderStripResizesItsEdgesAndCorners) {
  struct Case {
    int x, y;
    Qt::Edges edges;
  };
  // A 400 x 300 window, a 4 px strip, corners 16 px along each edge.
  const Case cases[] = {
      {200, 150, {}},
      {0, 150, Qt::LeftEdge},
      {3, 150, Qt::LeftEdge},
      {4, 150, {}},
      {399, 150, Qt::RightEdge},
      {200, 0, Qt::TopEdge},
      {200, 299, Qt::BottomEdge},
      {0, 0, Qt::LeftEdge | Qt::TopEdge},
      {10, 1, Qt::LeftEdge | Qt::TopEdge},      // near a corner along the top edge
      {1, 290, Qt::LeftEdge | Qt::BottomEdge},  // near a corner along the left edge
      {390, 298, Qt::RightEdge | Qt::BottomEdge},
      {398, 20, Qt::RightEdge},  // just past the corner's reach
      {-1, 150, {}},
      {400, 150, {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ResizeEdgesAt(400, 300, c.x, c.y, 4, 16), c.edges) << c.x << "," << c.y;
}

class FramelessWindowTest : public test::PageWindowTest {
 protected:
  void Send(QWidget* to, QEvent::Type type, QPoint at, Qt::MouseButton button) {
    QMouseEvent e(type, QPointF(at), QPointF(to->mapToGlobal(at)), button,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton),
                  Qt::NoModifier);
    QApplication::sendEvent(to, &e);
    Pump();
  }
};

// Without a window manager (the offscreen platform) the window follows the pointer itself,
// never below its minimum size.
TEST_F(FramelessWindowTest, AnEdgeDragResizesTheWindow) {
  if (QGuiApplication::platformName() != "offscreen") GTEST_SKIP() << "a window manager resizes here";
  const QRect before = window_->geometry();
  EXPECT_GE(before.width(), window_->minimumWidth());
  const QPoint edge(before.width() - 2, before.height() / 2);
  Send(window_, QEvent::MouseButtonPress, edge, Qt::LeftButton);
  Send(window_, QEvent::MouseMove, edge + QPoint(120, 0), Qt::NoButton);
  EXPECT_EQ(window_->width(), before.width() + 120);
  EXPECT_EQ(window_->height(), before.height());
  Send(window_, QEvent::MouseMove, edge - QPoint(2000, 0), Qt::NoButton);
  EXPECT_EQ(window_->width(), window_->minimumWidth());
  Send(window_, QEvent::MouseButtonRelease, edge, Qt::LeftButton);
  EXPECT_EQ(window_->x(), before.x());
}

// Maximising is the window manager's work: the body runs on a desktop of its own.
TEST_F(FramelessWindowTest, MaximisedAndRestoredTheViewFollows) {
  TW_RUN_ON_DESKTOP(test::TestDesktop::Kind::kX11Composited);
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  QWidget* view = FindControl(window_->Root(), "paint-view");
  QWidget* titleBar = FindControl(window_->Root(), "title-bar");
  auto* maximize = FindControl<QAbstractButton>(window_->Root(), "maxbtn");
  ASSERT_TRUE(view && titleBar && maximize);
  ASSERT_TRUE(WaitUntil([&] { return window_->windowHandle() && window_->windowHandle()->isExposed(); }));
  const QRect normal = window_->geometry();
  const int viewWidth = view->width();
  const QRect screen = window_->screen()->availableGeometry();
  ASSERT_LT(normal.width(), screen.width());

  Send(titleBar, QEvent::MouseButtonPress, QPoint(300, 20), Qt::LeftButton);
  Send(titleBar, QEvent::MouseButtonRelease, QPoint(300, 20), Qt::LeftButton);
  Send(titleBar, QEvent::MouseButtonDblClick, QPoint(300, 20), Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return window_->isMaximized() && window_->size() == screen.size(); }, 10000))
      << window_->width() << "x" << window_->height();
  // The border strip goes with the frame of a maximised window: the view gains that too.
  EXPECT_TRUE(WaitUntil([&] {
    return view->width() == viewWidth + (screen.width() - normal.width()) + 2 * FramelessWindow::kBorder;
  })) << view->width();
  EXPECT_EQ(maximize->toolTip(), "还原");

  // Minimised and brought back (a later start, the tray icon), it is maximised still.
  window_->showMinimized();
  ASSERT_TRUE(WaitUntil([&] { return window_->isMinimized(); }));
  window_->RaiseFromAnotherInstance({});
  ASSERT_TRUE(WaitUntil([&] { return !window_->isMinimized() && window_->isVisible(); }, 10000));
  EXPECT_TRUE(WaitUntil([&] { return window_->isMaximized() && window_->size() == screen.size(); }, 10000))
      << window_->width() << "x" << window_->height();

  maximize->click();
  ASSERT_TRUE(WaitUntil([&] { return !window_->isMaximized() && window_->size() == normal.size(); }, 10000));
  EXPECT_TRUE(WaitUntil([&] { return view->width() == viewWidth; })) << view->width();
  EXPECT_EQ(maximize->toolTip(), "最大化");
}

}  // namespace
}  // namespace tw
