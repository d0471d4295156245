// The row menus: each page's menu opens from its rows' menu buttons, every item posts its list
// message with the page's code and the row's id, and the commands reach their page.
#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QWheelEvent>
#include <filesystem>
#include <set>

#include "app/Messages.h"
#include "tests/support/QtPages.h"
#include "tests/support/QueueSink.h"
#include "tests/support/TestMedia.h"
#include "ui/PopMenu.h"
#include "ui/pages/FileList.h"

namespace tw {
namespace {

using test::Pump;

struct MenuCase {
  OperationKind page;
  int code;
  const char* button;
  const char* windowClass;
  const char* layout;
  std::set<std::string> items;
};

const std::set<std::string> kPlain = {"open-dir", "remove-file"};
const std::set<std::string> kJobs = {"open-dir", "remove-file", "cancel-task"};

const std::vector<MenuCase>& MenuCases() {
  static const std::vector<MenuCase> cases = {
      {OperationKind::Cut,
       0,
       "listMenuBtn",
       "CutPopMenu",
       "CutPopMenu.xml",
       {"open-dir", "remove-file", "delete-file", "add-to-convert", "add-to-speed", "add-to-noise",
        "add-to-volume", "cancel-task"}},
      {OperationKind::Record,
       1,
       "recorderListMenuBtn",
       "RecordPopMenu",
       "RecordPopMenu.xml",
       {"open-dir", "remove-file", "delete-file"}},
      {OperationKind::Convert, 2, "convertListMenuBtn", "ConvertPopMenu", "ConvertPopMenu.xml", kJobs},
      {OperationKind::Merge, 3, "mergeListMenuBtn", "MergePopMenu", "MergePopMenu.xml", kPlain},
      {OperationKind::Speed, 5, "speedListMenuBtn", "SpeedPopMenu", "SpeedPopMenu.xml", kJobs},
      {OperationKind::Extract, 6, "extractListMenuBtn", "ExtractPopMenu", "ExtractPopMenu.xml", kJobs},
      {OperationKind::Noise, 7, "noiseListMenuBtn", "NoisePopMenu", "NoisePopMenu.xml", kJobs},
      // The volume menu goes by the speed menu's class name, the background-music menu by the
      // noise menu's layout and class name: each still posts its own code.
      {OperationKind::Volume, 8, "volumeListMenuBtn", "SpeedPopMenu", "VolumePopMenu.xml", kJobs},
      {OperationKind::BgMusic, 9, "bgMusicListMenuBtn", "NoisePopMenu", "NoisePopMenu.xml", kJobs},
  };
  return cases;
}

unsigned ExpectedMessage(const std::string& item) {
  static const std::map<std::string, unsigned> numbers = {
      {"open-dir", 1374},      {"add-to-convert", 1375}, {"add-to-speed", 1376}, {"add-to-noise", 1377},
      {"add-to-volume", 1380}, {"remove-file", 1381},    {"delete-file", 1382}, {"cancel-task", 1383},
  };
  return numbers.at(item);
}

std::set<std::string> Names(const QStringList& list) {
  std::set<std::string> names;
  for (const QString& n : list) names.insert(n.toStdString());
  return names;
}

// A row's menu button on a window of its own.
struct Owner {
  explicit Owner(const char* name, int tag) {
    window.resize(400, 300);
    button = new QPushButton(&window);
    button->setObjectName(name);
    button->setGeometry(350, 10, 30, 30);
    SetTag(button, tag);
    window.show();
  }
  QWidget window;
  QPushButton* button;
};

TEST(PopMenuTest, EveryItemOfEveryMenuPostsItsMessageWithThePageCodeAndRowId) {
  ASSERT_EQ(PopMenuSpecs().size(), MenuCases().size());
  int tag = 40;
  for (const MenuCase& c : MenuCases()) {
    SCOPED_TRACE(c.windowClass);
    const PopMenuSpec* spec = FindPopMenuSpec(c.page);
    ASSERT_NE(spec, nullptr);
    EXPECT_STREQ(spec->menuButton, c.button);
    EXPECT_STREQ(spec->layoutFile, c.layout);
    Owner owner(c.button, ++tag);
    for (const std::string& item : c.items) {
      test::QueueSink sink;
      QPointer<PopMenu> menu =
          PopMenu::Open(*spec, owner.button, owner.button->mapToGlobal(QPoint(5, 5)), &sink);
      ASSERT_FALSE(menu.isNull());
      EXPECT_EQ(menu->objectName(), c.windowClass);
      EXPECT_EQ(menu->parentWidget(), &owner.window);
      EXPECT_EQ(Names(menu->ItemNames()), c.items);
      EXPECT_TRUE(menu->isVisible());
      auto* button = menu->findChild<QAbstractButton*>(QString::fromStdString(item));
      ASSERT_NE(button, nullptr) << item;
      button->click();
      Pump();
      EXPECT_TRUE(menu.isNull()) << item << ": the menu closes";
      std::vector<Message> posted = sink.Drain();
      ASSERT_EQ(posted.size(), 1u) << item;
      EXPECT_EQ(posted[0].id, ExpectedMessage(item)) << item;
      auto* record = posted[0].As<ListRecord>();
      ASSERT_NE(record, nullptr);
      EXPECT_EQ(record->listCode, c.code);
      EXPECT_EQ(record->taskId, tag);
    }
  }
}

TEST(PopMenuTest, EscapeAClickElsewhereAndTheWheelPostNothing) {
  const PopMenuSpec& spec = *FindPopMenuSpec(OperationKind::Cut);
  Owner owner(spec.menuButton, 3);
  test::QueueSink sink;

  QPointer<PopMenu> menu = PopMenu::Open(spec, owner.button, owner.button->mapToGlobal(QPoint(5, 5)), &sink);
  ASSERT_FALSE(menu.isNull());
  QWheelEvent wheel(QPointF(5, 5), menu->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(menu, &wheel);
  Pump();
  ASSERT_FALSE(menu.isNull()) << "the wheel leaves the menu open";
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(menu, &escape);
  Pump();
  EXPECT_TRUE(menu.isNull());

  menu = PopMenu::Open(spec, owner.button, owner.button->mapToGlobal(QPoint(5, 5)), &sink);
  ASSERT_FALSE(menu.isNull());
  const QPoint outside(-20, -20);
  QMouseEvent press(QEvent::MouseButtonPress, outside, menu->mapToGlobal(outside), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(menu, &press);
  Pump();
  EXPECT_TRUE(menu.isNull());
  EXPECT_TRUE(sink.Drain().empty());
}

TEST(PopMenuTest, OpeningAnotherMenuClosesTheFirst) {
  const PopMenuSpec& spec = *FindPopMenuSpec(OperationKind::Convert);
  Owner owner(spec.menuButton, 2);
  test::QueueSink sink;
  QPointer<PopMenu> first = PopMenu::Open(spec, owner.button, QPoint(300, 100), &sink);
  QPointer<PopMenu> second = PopMenu::Open(spec, owner.button, QPoint(300, 200), &sink);
  Pump();
  EXPECT_TRUE(first.isNull());
  // On a real display the new menu stays; the offscreen platform ends the application's focus
  // with the first menu, and Qt then closes every pop-up.
  if (QGuiApplication::platformName() == "xcb") {
    ASSERT_FALSE(second.isNull());
    EXPECT_EQ(QApplication::activePopupWidget(), second.data());
  }
  int shown = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) shown += qobject_cast<PopMenu*>(w) && w->isVisible();
  EXPECT_LE(shown, 1);
  if (second) second->close();
  Pump();
  EXPECT_TRUE(sink.Drain().empty());
}

TEST(PopMenuTest, AMenuNearTheBottomOfTheScreenStaysAboveIt) {
  const PopMenuSpec& spec = *FindPopMenuSpec(OperationKind::Record);
  Owner owner(spec.menuButton, 1);
  test::QueueSink sink;
  const QRect area = MenuWindow::WorkAreaAt(QPoint(0, 0));
  const QPoint anchor(area.center().x(), area.bottom() - 2);
  QPointer<PopMenu> menu = PopMenu::Open(spec, owner.button, anchor, &sink);
  ASSERT_FALSE(menu.isNull());
  EXPECT_TRUE(area.contains(menu->geometry()))
      << "menu at " << menu->y() << ", area bottom " << area.bottom();
  EXPECT_EQ(menu->geometry().right(), anchor.x() - 1) << "opens to the left of the click";
  menu->close();
  Pump();
}

// Through the window: the row's own menu button, the item clicked, the page's command.
class PopMenuWindowTest : public test::PageWindowTest {
 protected:
  PopMenuWindowTest() { checkDialogs_ = true; }
  int AddFile(OperationKind kind, const std::string& path) {
    auto entry = ProbeFileEntry(path);
    EXPECT_TRUE(entry.has_value()) << path;
    return entry ? PageOf(kind)->AddEntry(*entry) : -1;
  }
  // Opens the row's menu by its button and clicks item in it.
  void Choose(OperationKind kind, int taskId, const char* item) {
    ClickRow(kind, taskId, FindPopMenuSpec(kind)->menuButton);
    auto* menu = qobject_cast<PopMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr) << "no menu opened";
    EXPECT_EQ(menu->Spec().pageCode, kind);
    auto* button = menu->findChild<QAbstractButton*>(item);
    ASSERT_NE(button, nullptr) << item;
    button->click();
    Pump();
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
  }
};

TEST_F(PopMenuWindowTest, RemoveFromEveryPageMenuTakesTheRow) {
  const std::string file = test::ToneWav(1);
  for (const MenuCase& c : MenuCases()) {
    SCOPED_TRACE(c.windowClass);
    const int first = AddFile(c.page, file);
    const int second = AddFile(c.page, file);
    ASSERT_EQ(Rows(c.page), 2);
    Choose(c.page, first, "remove-file");
    ASSERT_EQ(Rows(c.page), 1);
    EXPECT_EQ(RowId(c.page, 0), second);
  }
}

TEST_F(PopMenuWindowTest, CutResultMenuCommandsReachTheirPages) {
  const std::string result = test::CopyAs(test::ToneWav(1), "cut result '$(x)' 剪辑.wav");
  const int id = AddFile(OperationKind::Cut, result);

  Choose(OperationKind::Cut, id, "open-dir");
  ASSERT_EQ(opened_->urls.size(), 1);
  EXPECT_EQ(opened_->urls[0].toLocalFile().toStdString(), outputDir_);

  const std::vector<std::pair<const char*, OperationKind>> targets = {
      {"add-to-convert", OperationKind::Convert},
      {"add-to-speed", OperationKind::Speed},
      {"add-to-noise", OperationKind::Noise},
      {"add-to-volume", OperationKind::Volume},
  };
  for (const auto& [item, target] : targets) {
    Choose(OperationKind::Cut, id, item);
    EXPECT_EQ(Rows(target), 1) << item;
    EXPECT_EQ(window_->PageAt(window_->CurrentPage())->Kind(), target) << item;
  }

  ExpectDialogs({"确定要删除吗?"});
  auto confirm = test::AnswerNextModal("msgConfirm");
  Choose(OperationKind::Cut, id, "delete-file");
  EXPECT_TRUE(confirm->answered);
  EXPECT_EQ(Rows(OperationKind::Cut), 0);
  EXPECT_FALSE(std::filesystem::exists(result));
}

// "取消任务" can be chosen only while the row's job waits or runs, and ends it.
TEST_F(PopMenuWindowTest, CancelTaskIsOfferedWhileTheRowsJobIsHeld) {
  const int id = AddFile(OperationKind::Speed, test::CopyAs(test::LongMp3(), "long.mp3"));
  const auto cancelOffered = [&] {
    ClickRow(OperationKind::Speed, id, "speedListMenuBtn");
    auto* menu = qobject_cast<PopMenu*>(QApplication::activePopupWidget());
    EXPECT_NE(menu, nullptr);
    const bool enabled = menu && menu->findChild<QWidget*>("cancel-task")->isEnabled();
    if (menu) menu->close();
    Pump();
    return enabled;
  };
  EXPECT_FALSE(cancelOffered());
  ClickRow(OperationKind::Speed, id, "speedBtn");
  EXPECT_TRUE(cancelOffered());
  Choose(OperationKind::Speed, id, "cancel-task");
  EXPECT_EQ(RowText(OperationKind::Speed, id, "progress-label"), "已取消");
  EXPECT_FALSE(cancelOffered());
  EXPECT_TRUE(test::WaitUntil([&] { return test::RunningTranscoders() == 0; }));
}

TEST_F(PopMenuWindowTest, BackgroundMusicMenuActsOnItsOwnListThoughItLooksLikeNoise) {
  const std::string file = test::ToneWav(1);
  const int noiseRow = AddFile(OperationKind::Noise, file);
  const int musicRow = AddFile(OperationKind::BgMusic, file);
  ClickRow(OperationKind::BgMusic, musicRow, "bgMusicListMenuBtn");
  auto* menu = qobject_cast<PopMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->objectName(), "NoisePopMenu");
  menu->findChild<QAbstractButton*>("remove-file")->click();
  Pump();
  EXPECT_EQ(Rows(OperationKind::BgMusic), 0);
  EXPECT_NE(Row(OperationKind::Noise, noiseRow), nullptr);
}

}  // namespace
}  // namespace tw
