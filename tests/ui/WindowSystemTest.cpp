// The program on the window systems themselves, driven with real pointer and key input (xdotool):
// X11 with a window manager and a compositing manager, and Wayland (weston on its X11 backend).
// Dialogs carry their shadow in their own surface, the loading box lies inside the main window,
// and menus stay on screen with the window at each edge of the screen.
// Setting TW_TEST_SHOTS_DIR keeps a screenshot of each step there, to be looked at.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QListWidget>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <QWindow>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "tasks/Commands.h"
#include "tests/support/QtPages.h"
#include "tests/support/TestDesktop.h"
#include "tests/support/TestMedia.h"
#include "ui/CMainTaskMenu.h"
#include "ui/PopMenu.h"
#include "ui/dialogs/LoadingDialog.h"
#include "ui/dialogs/PromptBoxDialog.h"
#include "ui/pages/FileList.h"
#include "ui/pages/ListRows.h"
#include "ui/pages/Page.h"

namespace tw {
namespace {

using test::TestDesktop;
using test::WaitUntil;
using test::Xdo;

const QRect kScreen(0, 0, TestDesktop::kWidth, TestDesktop::kHeight);

std::string Num(int v) {
  return std::to_string(v);
}

void ClickAt(QPoint p) {
  Xdo({"mousemove", Num(p.x()), Num(p.y())});
  Xdo({"click", "1"});
}

QImage Screen(const std::string& keepAs = {}) {
  const std::string path = test::TempDir() + "/screen.png";
  if (!test::GrabDesktop(path)) return {};
  if (const char* dir = std::getenv("TW_TEST_SHOTS_DIR"); dir && !keepAs.empty())
    test::RunProcess({"cp", path, std::string(dir) + "/" + keepAs});
  return QImage(QString::fromStdString(path));
}

// The top-left pixel of the topmost title bar on screen: the dialogs' and the main window's title
// bars begin with the skin's accent colour #2f6bff, which nothing above them shows.
QPoint TopmostTitleBar(const QImage& screen) {
  for (int y = 0; y < screen.height(); ++y)
    for (int x = 0; x < screen.width(); ++x)
      if (screen.pixel(x, y) == qRgb(0x2f, 0x6b, 0xff)) return {x, y};
  return {-1, -1};
}

// The Wayland protocol trace of this process so far.
std::string Trace() {
  std::ifstream in(test::DesktopTrace());
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
int Requests(const std::string& pattern) {
  const std::string trace = Trace();
  const std::regex request(" -> [a-z_0-9]+@[0-9]+\\." + pattern + "\\(");
  return static_cast<int>(std::distance(std::sregex_iterator(trace.begin(), trace.end(), request), {}));
}

std::string DebugTail() {
  std::string out;
  std::istringstream in(Trace());
  std::string line;
  std::vector<std::string> lines;
  while (std::getline(in, line))
    if (std::regex_search(line, std::regex("button|move\\(|leave|enter|motion"))) lines.push_back(line);
  for (size_t i = lines.size() > 30 ? lines.size() - 30 : 0; i < lines.size(); ++i) out += "\n" + lines[i];
  return out;
}

// A menu whose place on screen the program worked out lies wholly on screen, and the screen shows
// it there: its frame (#c2ccdc) in the middle of its left edge.
void ExpectMenuOnScreen(QRect menu, const std::string& keepAs) {
  EXPECT_TRUE(kScreen.contains(menu))
      << menu.x() << "," << menu.y() << " " << menu.width() << "x" << menu.height();
  const QPoint frame(menu.left(), menu.center().y());
  if (!kScreen.contains(frame)) return;
  EXPECT_TRUE(WaitUntil([&] { return Screen(keepAs).pixel(frame) == qRgb(0xc2, 0xcc, 0xdc); }, 5000))
      << "the menu is not where it was placed";
}

// A pop-up the compositor has placed and that shows.
bool Shown(QWidget* popup) {
  return popup && popup->windowHandle() && popup->windowHandle()->isExposed();
}

int Brightness(QRgb c) {
  return qRed(c) + qGreen(c) + qBlue(c);
}

// Answers the next prompt as the user does once it shows: first check(dialog), then a click on
// its shadow and Return.
void AnswerPromptThroughItsShadow(const std::function<QPoint(PromptBoxDialog*)>& shadowPoint,
                                  const std::function<void(PromptBoxDialog*)>& check) {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, [=] {
    auto* dialog = qobject_cast<PromptBoxDialog*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->windowHandle() || !dialog->windowHandle()->isExposed()) return;
    timer->stop();
    timer->deleteLater();
    test::Pump();
    check(dialog);
    ClickAt(shadowPoint(dialog));
    Xdo({"key", "Return"});
  });
  timer->start(100);
}

// The shadow changes the pixels just outside the prompt's body from what was there before. ""
// when it does; otherwise where it does not.
std::string MissingShadow(const QImage& before, const QImage& after, QRect body) {
  if (before.isNull() || after.isNull()) return "no screenshot";
  const QPoint mid = body.center();
  for (const QPoint p : {QPoint(body.left() - 2, mid.y()), QPoint(body.right() + 2, mid.y()),
                         QPoint(mid.x(), body.bottom() + 2), QPoint(mid.x(), body.top() - 2)}) {
    if (!kScreen.contains(p)) continue;  // the compositor placed the prompt at an edge
    if (std::abs(Brightness(after.pixel(p)) - Brightness(before.pixel(p))) <= 15)
      return "no shadow at " + std::to_string(p.x()) + "," + std::to_string(p.y());
  }
  return "";
}

// Waits until the screen shows the shadow around body (a loaded compositor may show a frame or two
// of the prompt before its final one).
void ExpectShadowAround(const QImage& before, const std::string& keepAs, const std::function<QRect(const QImage&)>& body) {
  std::string missing;
  EXPECT_TRUE(WaitUntil([&] {
    const QImage after = Screen(keepAs);
    const QRect where = body(after);
    missing = where.isValid() ? MissingShadow(before, after, where) : "the prompt is not on screen";
    return missing.empty();
  })) << missing;  // a loaded compositor may take seconds for its final frame
}

TEST(WindowSystemTest, X11DialogAndItsShadowAreOneComposedWindow) {
  TW_RUN_ON_DESKTOP(TestDesktop::Kind::kX11Composited);
  ASSERT_TRUE(CWndShadow::ShadowsEnabled()) << "a compositing manager runs";
  QWidget owner;
  owner.setGeometry(200, 150, 800, 500);
  owner.show();
  ASSERT_TRUE(WaitUntil([&] { return owner.windowHandle()->isExposed(); }));
  const QImage before = Screen();
  AnswerPromptThroughItsShadow(
      [](PromptBoxDialog* d) { return d->mapToGlobal(d->contentsRect().topLeft()) + QPoint(-2, 50); },
      [&](PromptBoxDialog* d) {
        EXPECT_EQ(d->Shadow().Margins(), QMargins(4, 4, 4, 4));
        std::string windows;
        test::RunProcess({"env", "DISPLAY=" + test::DesktopX(), "xdotool", "search", "--onlyvisible", "--pid",
                          Num(getpid())},
                         &windows);
        EXPECT_EQ(std::count(windows.begin(), windows.end(), '\n'), 2)
            << "owner and prompt, no shadow window";
        const QRect body(d->mapToGlobal(d->contentsRect().topLeft()), d->ClientSize());
        ExpectShadowAround(before, "chrome-x11-prompt.png", [&](const QImage&) { return body; });
      });
  EXPECT_EQ(PromptBoxDialog::Show(&owner, QString::fromUtf8(kMsgCommandTooLong)), 1)
      << "a click on the shadow leaves the prompt answering Return";
}

TEST(WindowSystemTest, WaylandPromptAndItsShadowAreOneSurface) {
  TW_RUN_ON_DESKTOP(TestDesktop::Kind::kWayland);
  test::HomePointer();
  QWidget owner;
  owner.resize(800, 500);
  owner.show();
  ASSERT_TRUE(WaitUntil([&] { return owner.windowHandle()->isExposed(); }));
  const int toplevels = Requests("get_toplevel");
  const QImage before = Screen();
  QPoint shadow;
  AnswerPromptThroughItsShadow([&](PromptBoxDialog*) { return shadow; },
                               [&](PromptBoxDialog* d) {
                                 EXPECT_EQ(Requests("get_toplevel"), toplevels + 1)
                                     << "one surface, no shadow window";
                                 EXPECT_GE(Requests("set_parent"), 1) << "the prompt has its parent";
                                 EXPECT_EQ(d->Shadow().Margins(), QMargins(4, 4, 4, 4));
                                 // Once the compositor shows it: the header's top-left pixel
                                 // lies inside the body's 1-pixel frame.
                                 QPoint body(-1, -1);
                                 ExpectShadowAround(before, "chrome-wayland-prompt.png", [&](const QImage& after) {
                                   body = TopmostTitleBar(after) - QPoint(1, 1);
                                   return body.x() >= 0 ? QRect(body, d->ClientSize()) : QRect();
                                 });
                                 shadow = body + QPoint(-2, 50);
                               });
  EXPECT_EQ(PromptBoxDialog::Show(&owner, QString::fromUtf8(kMsgCommandTooLong)), 1)
      << "a click on the shadow leaves the prompt answering Return";
}

// The main window on Wayland, with convert rows whose menus can be opened.
class WaylandWindowTest : public test::PageWindowTest {
 protected:
  void SetUp() override {
    if (test::InDesktopChild()) test::PageWindowTest::SetUp();
  }
  void TearDown() override {
    if (test::InDesktopChild()) test::PageWindowTest::TearDown();
  }

  // Where the window really is: the pointer entering it at a screen point tells the point's place
  // in the window; the compositor alone knew the rest. The point must lie on the window.
  QPoint MeasureOrigin(QPoint onWindow) {
    QPoint local(-1, -1);
    EnterWatch watch(window_, &local);
    Xdo({"mousemove", Num(kScreen.width() / 2), "10"});  // over the compositor's panel
    test::Pump();
    local = QPoint(-1, -1);
    Xdo({"mousemove", Num(onWindow.x()), Num(onWindow.y())});
    EXPECT_TRUE(WaitUntil([&] { return local.x() >= 0; }, 5000)) << "the pointer did not enter the window";
    return onWindow - local;
  }
  // Drags the title bar from a screen point by delta; the window follows the pointer once the
  // program has asked the compositor to move it, which it does when the pointer has left the
  // press by more than a drag distance (a double-click maximises instead).
  void Drag(QPoint from, QPoint delta) {
    const int moves = Requests("move");
    const QPoint nudge(0, 2 * QApplication::startDragDistance());
    Xdo({"mousemove", Num(from.x()), Num(from.y())});
    Xdo({"mousedown", "1"});
    test::Pump();
    Xdo({"mousemove", Num(from.x() + nudge.x()), Num(from.y() + nudge.y())});
    EXPECT_TRUE(WaitUntil([&] { return Requests("move") > moves; }, 5000)) << "no move began" << DebugTail();
    test::Pump();
    // The compositor keeps the pointer's place in the window from the press.
    for (int step = 1; step <= 4; ++step) {
      const QPoint p = from + delta * step / 4;
      Xdo({"mousemove", Num(p.x()), Num(p.y())});
    }
    Xdo({"mouseup", "1"});
    test::Pump();
  }
  // A control's rectangle on screen, the window being at origin.
  QRect OnScreen(QPoint origin, const QWidget* w) const {
    return QRect(origin + w->mapTo(window_, QPoint(0, 0)), w->size());
  }
  QRect MenuOnScreen(QPoint origin, const QWidget* menu) const {
    return QRect(origin + (menu->geometry().topLeft() - window_->geometry().topLeft()), menu->size());
  }

  struct EnterWatch : QObject {
    EnterWatch(QWidget* w, QPoint* local) : at(local) { w->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Enter) *at = static_cast<QEnterEvent*>(e)->position().toPoint();
      return false;
    }
    QPoint* at;
  };
};

TEST_F(WaylandWindowTest, TheLoadingBoxLiesInsideTheMainWindow) {
  TW_RUN_ON_DESKTOP(TestDesktop::Kind::kWayland);
  ASSERT_TRUE(WaitUntil([&] { return window_->windowHandle()->isExposed(); }));
  const int surfaces = Requests("get_toplevel") + Requests("get_popup") + Requests("get_subsurface");
  LoadingDialog* box = window_->Loading();
  box->SetProgress(40);
  box->CenterWindow();
  box->show();
  test::Pump();
  EXPECT_EQ(Requests("get_toplevel") + Requests("get_popup") + Requests("get_subsurface"), surfaces)
      << "the box is drawn in the window's own surface";
  EXPECT_TRUE(window_->rect().contains(box->geometry()));
  test::HomePointer();
  Screen("chrome-wayland-loading.png");
  box->hide();
}

TEST_F(WaylandWindowTest, BothMenusStayOnScreenWithTheWindowAtEachEdge) {
  TW_RUN_ON_DESKTOP(TestDesktop::Kind::kWayland);
  test::HomePointer();
  window_->CompletePages();
  const std::string file = test::ToneWav(1);
  auto entry = ProbeFileEntry(file);
  ASSERT_TRUE(entry.has_value());
  Page* page = PageOf(OperationKind::Convert);
  // Rows down to the bottom of the window: the lowest menu button shown is the one to try.
  for (int i = 0; i < 16; ++i) page->AddEntry(*entry);
  Click("audio-convert");
  ASSERT_TRUE(WaitUntil([&] { return window_->windowHandle()->isExposed(); }));
  QWidget* menuButton = FindControl(window_->Root(), "menubtn");
  QWidget* rowButton = nullptr;
  const QWidget* viewport = page->List()->viewport();
  for (int i = 0; i < Rows(OperationKind::Convert); ++i) {
    QWidget* button = RowAt(page->List(), i)->findChild<QWidget*>("convertListMenuBtn");
    const QRect shown(button->mapTo(viewport, QPoint(0, 0)), button->size());
    if (button->isVisible() && viewport->rect().contains(shown)) rowButton = button;
  }
  ASSERT_NE(rowButton, nullptr);

  const QPoint grip(300, 20);  // a point of the title bar away from its buttons
  const QSize size = window_->size();
  // The window's title bar on screen, then the exact place by the pointer entering it.
  auto locate = [&] {
    test::HomePointer();
    QPoint titleBar(-1, -1);
    EXPECT_TRUE(WaitUntil([&] { return (titleBar = TopmostTitleBar(Screen())).x() >= 0; }, 10000));
    return MeasureOrigin(titleBar + QPoint(size.width() / 2, size.height() / 2));
  };
  QPoint origin = locate();
  struct Edge {
    const char* name;
    std::function<QPoint(QPoint)> target;  // where the window goes from origin
  };
  const std::vector<Edge> edges = {
      {"bottom", [&](QPoint o) { return QPoint(o.x(), kScreen.height() - size.height()); }},
      {"right", [&](QPoint o) { return QPoint(kScreen.width() - size.width(), o.y()); }},
      {"top", [&](QPoint o) { return QPoint(o.x(), 0); }},
      {"left", [&](QPoint o) { return QPoint(0, o.y()); }},
  };
  for (const Edge& edge : edges) {
    SCOPED_TRACE(edge.name);
    // A drag whose first steps reached the compositor before the program's move request moves
    // the window less: drag again from where it is. The compositor may keep the window from
    // going under its panel.
    const QPoint target = edge.target(origin);
    for (int attempt = 0; attempt < 3 && (origin - target).manhattanLength() > 2; ++attempt) {
      Drag(origin + grip, target - origin);
      origin = locate();
      if (std::string(edge.name) == "top" && origin.x() == target.x()) break;
    }
    ASSERT_TRUE(kScreen.contains(QRect(origin, size).intersected(kScreen)))
        << origin.x() << "," << origin.y();
    if (std::string(edge.name) != "top") {
      EXPECT_EQ(origin, target);
    }

    ClickAt(OnScreen(origin, menuButton).center());
    ASSERT_TRUE(
        WaitUntil([] { return Shown(qobject_cast<CMainTaskMenu*>(QApplication::activePopupWidget())); }));
    QWidget* menu = QApplication::activePopupWidget();
    ExpectMenuOnScreen(MenuOnScreen(origin, menu),
                       std::string("chrome-wayland-main-menu-") + edge.name + ".png");
    menu->close();
    test::Pump();

    ClickAt(OnScreen(origin, rowButton).center());
    ASSERT_TRUE(WaitUntil([] { return Shown(qobject_cast<PopMenu*>(QApplication::activePopupWidget())); }));
    menu = QApplication::activePopupWidget();
    ExpectMenuOnScreen(MenuOnScreen(origin, menu),
                       std::string("chrome-wayland-row-menu-") + edge.name + ".png");
    menu->close();
    test::Pump();
  }
}

TEST(WindowSystemTest, WaylandSecondStartWithATokenRaisesAMinimisedWindow) {
  TW_RUN_ON_DESKTOP(TestDesktop::Kind::kWayland);
  QWidget probe;
  probe.show();
  ASSERT_TRUE(WaitUntil([&] { return probe.windowHandle()->isExposed(); }));
  if (Trace().find("\"xdg_activation_v1\"") == std::string::npos)
    GTEST_SKIP()
        << "the compositor offers no xdg_activation_v1 (weston does not): no Wayland client can raise "
           "a minimised window there; the token's way to the first instance is tested in StartupTest";
  GTEST_SKIP() << "the compositor offers xdg_activation_v1, but this test has no launcher that issues tokens";
}

}  // namespace
}  // namespace tw
