// A window built in two steps (the shown page first, the others after the first paint) ends
// up with the same controls, the same page order and the same behaviour as one built at once.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QStackedWidget>
#include <memory>

#include "app/Messages.h"
#include "tests/support/QtPages.h"
#include "ui/CMainWnd.h"
#include "ui/Skin.h"
#include "ui/pages/Page.h"

namespace tw {
namespace {

QStringList NamesUnder(QWidget* root) {
  QStringList names;
  for (QWidget* w : root->findChildren<QWidget*>())
    if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_")) names << w->objectName();
  names.sort();
  return names;
}

TEST(SplitLayoutTest, CutsTheMainWindowIntoAShellAndItsPages) {
  SplitLayout split;
  QString error;
  ASSERT_TRUE(split.Read("MainWindow.xml", "main-tab", &error)) << error.toStdString();
  ASSERT_EQ(split.PageCount(), 9);
  EXPECT_EQ(split.ShownIndex(), 0);
  EXPECT_TRUE(split.PageText(0).isEmpty());
  const char* pageNames[] = {"page-cut",   "page-record", "page-convert", "page-merge",   "page-speed",
                             "page-extract", "page-noise", "page-volume",  "page-bg-music"};
  for (int i = 1; i < 9; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(split.PageText(i).contains(QByteArray("name=\"") + pageNames[i] + "\""));
    EXPECT_FALSE(split.ShellText().contains(QByteArray("name=\"") + pageNames[i] + "\""));
    std::unique_ptr<QWidget> page(split.LoadPage(i, &error));
    ASSERT_NE(page, nullptr) << error.toStdString();
    EXPECT_EQ(page->objectName(), pageNames[i]);
  }
  EXPECT_EQ(split.LoadPage(0, &error), nullptr);  // built with the shell
  EXPECT_EQ(split.LoadPage(9, &error), nullptr);
  std::unique_ptr<QWidget> shell(split.LoadShell(nullptr, &error));
  ASSERT_NE(shell, nullptr) << error.toStdString();
  auto* stack = FindControl<QStackedWidget>(shell.get(), "main-tab");
  ASSERT_NE(stack, nullptr);
  ASSERT_EQ(stack->count(), 1);
  EXPECT_EQ(stack->widget(0)->objectName(), "page-cut");
  EXPECT_NE(FindControl(shell.get(), "audio-bg-music"), nullptr);  // the tab bar is whole
}

TEST(SplitLayoutTest, RefusesALayoutWithoutTheStack) {
  SplitLayout split;
  QString error;
  EXPECT_FALSE(split.Read("MessageBox.xml", "main-tab", &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_FALSE(split.Read("NoSuchLayout.xml", "main-tab", &error));
  EXPECT_EQ(split.LoadShell(nullptr, &error), nullptr);
}

TEST(SplitLayoutTest, ADeferredWindowMatchesOneBuiltAtOnce) {
  CMainWnd whole;
  QString error;
  ASSERT_TRUE(whole.Create(&error)) << error.toStdString();

  CMainWnd deferred;
  ASSERT_TRUE(deferred.Create(&error, /*deferPages=*/true)) << error.toStdString();
  EXPECT_FALSE(deferred.PagesComplete());
  auto* stack = FindControl<QStackedWidget>(deferred.Root(), "main-tab");
  ASSERT_NE(stack, nullptr);
  EXPECT_EQ(stack->count(), 1);

  deferred.CompletePages();
  EXPECT_TRUE(deferred.PagesComplete());
  EXPECT_TRUE(deferred.MissingControls().isEmpty()) << deferred.MissingControls().join(", ").toStdString();
  EXPECT_EQ(NamesUnder(deferred.Root()), NamesUnder(whole.Root()));
  auto* wholeStack = FindControl<QStackedWidget>(whole.Root(), "main-tab");
  ASSERT_EQ(stack->count(), wholeStack->count());
  for (int i = 0; i < stack->count(); ++i) EXPECT_EQ(stack->widget(i)->objectName(), wholeStack->widget(i)->objectName());
  EXPECT_EQ(stack->currentIndex(), 0);
}

TEST(SplitLayoutTest, TheFirstPaintOrTheFirstActionBuildsThePages) {
  {
    CMainWnd window;
    QString error;
    ASSERT_TRUE(window.Create(&error, true)) << error.toStdString();
    window.show();
    EXPECT_TRUE(test::WaitUntil([&] { return window.PagesComplete(); }, 5000));
  }
  {
    // The window's own messages (the start-up upgrade check's answer, the tray) leave the pages
    // for after the first paint; a message for a page builds them.
    CMainWnd window;
    QString error;
    ASSERT_TRUE(window.Create(&error, true)) << error.toStdString();
    for (unsigned id : {WM_UPGRADE_CHECKED, WM_TRAY_NOTIFY, WM_MENU_UPGRADE + 0u}) {
      EXPECT_TRUE(CMainWnd::IsWindowMessage(id)) << id;
      if (id == WM_TRAY_NOTIFY) {
        Message tray(id);
        window.HandleCustomMessage(tray);
      }
    }
    EXPECT_FALSE(window.PagesComplete());
    Message progress(WM_TASK_PROGRESS);
    window.HandleCustomMessage(progress);
    EXPECT_TRUE(window.PagesComplete());
  }
  {
    // Selecting a page before any paint builds the pages first, then switches.
    CMainWnd window;
    QString error;
    ASSERT_TRUE(window.Create(&error, true)) << error.toStdString();
    auto* option = FindControl<QAbstractButton>(window.Root(), "audio-noise");
    ASSERT_NE(option, nullptr);
    option->setChecked(true);
    EXPECT_TRUE(window.PagesComplete());
    EXPECT_EQ(window.CurrentPage(), 6);
    auto* stack = FindControl<QStackedWidget>(window.Root(), "main-tab");
    EXPECT_EQ(stack->currentWidget()->objectName(), "page-noise");
  }
}

}  // namespace
}  // namespace tw
