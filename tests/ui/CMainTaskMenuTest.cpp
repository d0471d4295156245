// The main menu and what opens it: every item of the pop-up and of the tray's context menu posts
// its menu message, the tray's clicks and the title bar's menu, settings and help buttons, and
// the menu messages as the window handles them.
#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <set>

#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "net/VendorService.h"
#include "tests/support/QtPages.h"
#include "tests/support/QueueSink.h"
#include "ui/CMainTaskMenu.h"
#include "ui/UrlOpener.h"

namespace tw {
namespace {

using test::Pump;

constexpr int kLeftButtonDown = 513;
constexpr int kRightButtonDown = 516;

// The title bar's pop-up and the tray icon's context menu: the same items, each posting its
// message.
TEST(CMainTaskMenuTest, EveryItemOfBothMenusPostsItsMenuMessage) {
  const std::vector<std::pair<const char*, unsigned>> items = {
      {"main_menu_item_quit", 1234}, {"main_menu_item_home", 1235},    {"main_menu_item_feedback", 1238},
      {"main_menu_item_help", 1236}, {"main_menu_item_upgrade", 1239}, {"main_menu_item_seting", 1237},
  };
  QWidget owner;
  QPushButton button(&owner);
  owner.resize(400, 300);
  owner.show();
  test::QueueSink traySink;
  std::unique_ptr<QMenu> tray(CMainTaskMenu::BuildTrayMenu(nullptr, &traySink));
  ASSERT_NE(tray, nullptr);
  QStringList trayItems;
  for (QAction* action : tray->actions())
    if (!action->isSeparator()) trayItems << action->objectName();
  EXPECT_GE(tray->actions().size(), trayItems.size() + 1) << "the layout's separator";
  for (const auto& [item, number] : items) {
    SCOPED_TRACE(item);
    test::QueueSink sink;
    QPointer<CMainTaskMenu> menu = CMainTaskMenu::OpenBelow(&owner, &button, &sink);
    ASSERT_FALSE(menu.isNull());
    EXPECT_EQ(menu->objectName(), "CDuiMenu ");
    EXPECT_EQ(menu->windowTitle(), "MenuWnd");
    const QStringList itemNames = menu->ItemNames();
    EXPECT_EQ(trayItems, itemNames) << "the same items in the same order";
    std::set<QString> names(itemNames.begin(), itemNames.end());
    EXPECT_EQ(names.size(), items.size());
    for (const auto& [name, n] : items) EXPECT_TRUE(names.count(name)) << name;
    EXPECT_EQ(tray->findChild<QAction*>(item)->text(), menu->findChild<QAbstractButton*>(item)->text());
    menu->findChild<QAbstractButton*>(item)->click();
    Pump();
    EXPECT_TRUE(menu.isNull());
    std::vector<Message> posted = sink.Drain();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].id, number);

    tray->findChild<QAction*>(item)->trigger();
    posted = traySink.Drain();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].id, number);
  }
}

class MainMenuWindowTest : public test::PageWindowTest {
 protected:
  MainMenuWindowTest() { checkDialogs_ = true; }
  void SetUp() override {
    test::PageWindowTest::SetUp();
    auto urls = std::make_unique<test::RecordingUrlOpener>();
    urls_ = urls.get();
    SetUrlOpener(std::move(urls));
  }
  void TearDown() override {
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    Pump();
    SetUrlOpener(nullptr);
    test::PageWindowTest::TearDown();
    SettingsFile::Instance().WriteString(kSettingsSection, kKeyWindowClose, "0");
    SettingsFile::Instance().WriteString(kSettingsSection, kKeyWebsiteUrl, "");
  }
  CMainTaskMenu* OpenMenu() const { return qobject_cast<CMainTaskMenu*>(QApplication::activePopupWidget()); }

  test::RecordingUrlOpener* urls_ = nullptr;
};

TEST_F(MainMenuWindowTest, TrayClicksAreHandledAndOpenNoMenuOfTheirOwn) {
  struct Case {
    int mouseMessage;
    bool handled;
  };
  const std::vector<Case> cases = {
      {kRightButtonDown, true}, {kLeftButtonDown, true}, {512, false}, {517, false}, {514, false}};
  for (const Case& c : cases) {
    Message message(WM_TRAY_NOTIFY, nullptr, c.mouseMessage);
    EXPECT_EQ(window_->HandleCustomMessage(message), c.handled) << c.mouseMessage;
    Pump();
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "the tray host draws the tray's menu";
  }

  // A right click leaves a minimised window minimised; a left click restores it.
  window_->showMinimized();
  Pump();
  window_->Post(Message(WM_TRAY_NOTIFY, nullptr, kRightButtonDown));
  Pump();
  EXPECT_TRUE(window_->isMinimized());
  window_->Post(Message(WM_TRAY_NOTIFY, nullptr, kLeftButtonDown));
  Pump();
  EXPECT_FALSE(window_->isMinimized());
  EXPECT_TRUE(window_->isVisible());
}

// A left click brings the window to the front with the focus, also from behind another window.
TEST_F(MainMenuWindowTest, TrayLeftClickActivatesTheWindow) {
  QWidget other;
  other.resize(300, 200);
  other.show();
  other.activateWindow();
  ASSERT_TRUE(test::WaitUntil([&] { return other.isActiveWindow(); }));
  window_->Post(Message(WM_TRAY_NOTIFY, nullptr, kLeftButtonDown));
  EXPECT_TRUE(test::WaitUntil([&] { return window_->isActiveWindow(); }));
}

TEST_F(MainMenuWindowTest, QuitFromTheMenuEndsTheProgramEvenWhenCloseMinimises) {
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyWindowClose, "1");
  Click("closebtn");
  ASSERT_FALSE(window_.isNull());
  EXPECT_TRUE(window_->isMinimized());

  bool ended = false;
  QObject::connect(window_, &CMainWnd::finalMessage, [&ended](int code) { ended = code == 0; });
  Click("menubtn");
  CMainTaskMenu* menu = OpenMenu();
  ASSERT_NE(menu, nullptr);
  // Below the button, inside the work area.
  QWidget* button = FindControl(window_->Root(), "menubtn");
  EXPECT_GE(menu->y(), button->mapToGlobal(QPoint(0, button->height())).y());
  EXPECT_TRUE(MenuWindow::WorkAreaAt(menu->pos()).contains(menu->geometry()));
  menu->findChild<QAbstractButton*>("main_menu_item_quit")->click();
  Pump();
  EXPECT_TRUE(ended);
  EXPECT_TRUE(window_.isNull());
}

TEST_F(MainMenuWindowTest, HelpOpensTheHelpPageAndSaysSoWhenNothingCan) {
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyWebsiteUrl, "http://127.0.0.1:9/");
  Click("help");
  window_->Post(Message(WM_MENU_HELP));
  Pump();
  ASSERT_EQ(urls_->urls.size(), 2);
  for (const QUrl& url : urls_->urls) {
    EXPECT_EQ(url, VendorSiteUrl("/help"));
    EXPECT_EQ(url.path(), "/help");
  }
  ExpectDialogs({"无法打开帮助页面!", "无法打开帮助页面!"});
  urls_->handled = false;
  auto prompt = test::AnswerNextModal("msgConfirm");
  Click("help");
  EXPECT_TRUE(prompt->answered);
  EXPECT_EQ(prompt->text, "无法打开帮助页面!");

  // A build without a web site address says the same and opens nothing.
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyWebsiteUrl, "");
  urls_->handled = true;
  urls_->urls.clear();
  prompt = test::AnswerNextModal("msgConfirm");
  Click("help");
  EXPECT_TRUE(prompt->answered);
  EXPECT_EQ(prompt->text, "无法打开帮助页面!");
  EXPECT_TRUE(urls_->urls.empty());
}

TEST_F(MainMenuWindowTest, SettingsOpenFromTheTitleBarAndFromTheMenuWhichShowsTheWindowFirst) {
  ExpectDialogs({"系统设置", "系统设置"});
  auto fromButton = test::AnswerNextModal("closebtn");
  Click("seting");
  EXPECT_TRUE(fromButton->answered);
  EXPECT_EQ(fromButton->dialogClass, "系统设置");

  window_->showMinimized();
  Pump();
  auto fromMenu = test::AnswerNextModal("closebtn");
  window_->Post(Message(WM_MENU_SETTINGS));
  Pump();
  EXPECT_TRUE(fromMenu->answered);
  EXPECT_EQ(fromMenu->dialogClass, "系统设置");
  EXPECT_FALSE(window_->isMinimized());
  EXPECT_TRUE(window_->isVisible());
}

}  // namespace
}  // namespace tw
