// The main menu and what opens it: every item posts its menu message, the tray's clicks and the
// title bar's menu, settings and help buttons, and the menu messages as the window handles them.
#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <set>

#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "tests/support/QtPages.h"
#include "tests/support/QueueSink.h"
#include "net/VendorService.h"
#include "ui/CMainTaskMenu.h"
#include "ui/UrlOpener.h"

namespace tw {
namespace {

using test::Pump;

constexpr int kLeftButtonDown = 513;
constexpr int kRightButtonDown = 516;

TEST(CMainTaskMenuTest, EveryItemPostsItsMenuMessage) {
  const std::vector<std::pair<const char*, unsigned>> items = {
      {"main_menu_item_quit", 1234}, {"main_menu_item_home", 1235},    {"main_menu_item_feedback", 1238},
      {"main_menu_item_help", 1236}, {"main_menu_item_upgrade", 1239}, {"main_menu_item_seting", 1237},
  };
  QWidget owner;
  owner.show();
  for (const auto& [item, number] : items) {
    SCOPED_TRACE(item);
    test::QueueSink sink;
    QPointer<CMainTaskMenu> menu = CMainTaskMenu::Open(&owner, QPoint(200, 200), &sink);
    ASSERT_FALSE(menu.isNull());
    EXPECT_EQ(menu->objectName(), "CDuiMenu ");
    EXPECT_EQ(menu->windowTitle(), "MenuWnd");
    const QStringList itemNames = menu->ItemNames();
    std::set<QString> names(itemNames.begin(), itemNames.end());
    EXPECT_EQ(names.size(), items.size());
    for (const auto& [name, n] : items) EXPECT_TRUE(names.count(name)) << name;
    menu->findChild<QAbstractButton*>(item)->click();
    Pump();
    EXPECT_TRUE(menu.isNull());
    std::vector<Message> posted = sink.Drain();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].id, number);
  }
}

class MainMenuWindowTest : public test::PageWindowTest {
 protected:
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

TEST_F(MainMenuWindowTest, TrayClicksOpenTheMenuOrRestoreTheWindow) {
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
    EXPECT_EQ(OpenMenu() != nullptr, c.mouseMessage == kRightButtonDown) << c.mouseMessage;
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    Pump();
  }

  // A right click leaves a minimised window minimised; a left click restores it.
  window_->showMinimized();
  Pump();
  window_->Post(Message(WM_TRAY_NOTIFY, nullptr, kRightButtonDown));
  Pump();
  ASSERT_NE(OpenMenu(), nullptr);
  EXPECT_TRUE(window_->isMinimized());
  OpenMenu()->close();
  window_->Post(Message(WM_TRAY_NOTIFY, nullptr, kLeftButtonDown));
  Pump();
  EXPECT_FALSE(window_->isMinimized());
  EXPECT_TRUE(window_->isVisible());
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
