// The notify adapter: which Qt signal becomes which notification, for rows added later too.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "ui/NotifyAdapter.h"
#include "ui/Skin.h"
#include "ui/pages/ListRows.h"

namespace tw {
namespace {

TEST(NotifyAdapterTest, SignalsBecomeNotifications) {
  QStringList seen;
  NotifyAdapter adapter([&seen](const QString& type, QObject* sender) { seen << type + ":" + sender->objectName(); });
  QWidget root;
  auto* layout = new QVBoxLayout(&root);
  auto* button = new QPushButton("b");
  button->setObjectName("button");
  auto* a = new QRadioButton("a");
  a->setObjectName("option-a");
  auto* b = new QRadioButton("b");
  b->setObjectName("option-b");
  auto* check = new QCheckBox("c");
  check->setObjectName("check");
  auto* slider = new QSlider;
  slider->setObjectName("slider");
  auto* combo = new QComboBox;
  combo->setObjectName("combo");
  combo->addItems({"x", "y"});
  auto* edit = new QLineEdit;
  edit->setObjectName("edit");
  auto* unnamed = new QPushButton("u");
  for (QWidget* w : std::initializer_list<QWidget*>{button, a, b, check, slider, combo, edit, unnamed}) layout->addWidget(w);
  adapter.Attach(&root);
  adapter.Attach(&root);  // a second attach connects nothing twice

  struct Case {
    std::function<void()> act;
    QStringList expected;
  };
  const std::vector<Case> cases = {
      {[&] { button->click(); }, {"click:button"}},
      {[&] { a->click(); }, {"click:option-a", "selectchanged:option-a"}},
      // Within a group only the option that becomes selected reports.
      {[&] { b->click(); }, {"selectchanged:option-b", "click:option-b"}},
      {[&] { check->click(); }, {"selectchanged:check", "click:check"}},
      {[&] { check->setChecked(false); }, {"selectchanged:check"}},
      {[&] { slider->setValue(30); }, {"valuechanged:slider"}},
      {[&] { combo->setCurrentIndex(1); }, {"itemselect:combo"}},
      {[&] { edit->setText("5"); }, {"textchanged:edit"}},
      {[&] { unnamed->click(); }, {}},
  };
  for (const auto& c : cases) {
    seen.clear();
    c.act();
    QStringList sortedSeen = seen, sortedExpected = c.expected;
    sortedSeen.sort();
    sortedExpected.sort();
    EXPECT_EQ(sortedSeen, sortedExpected) << c.expected.join(",").toStdString();
  }
}

TEST(NotifyAdapterTest, RowsAddedLaterNotifyWithTheirTags) {
  std::vector<std::pair<QString, int>> seen;
  NotifyAdapter adapter([&seen](const QString& type, QObject* sender) {
    if (type == "click") seen.emplace_back(sender->objectName(), GetTag(sender));
  });
  std::unique_ptr<QWidget> first(MakeRow(*FindRowSpec(OperationKind::Speed), 3, &adapter));
  std::unique_ptr<QWidget> second(MakeRow(*FindRowSpec(OperationKind::Speed), 4, &adapter));
  ASSERT_TRUE(first && second);
  second->findChild<QPushButton*>("speedBtn")->click();
  first->findChild<QPushButton*>("speedListMenuBtn")->click();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::make_pair(QString("speedBtn"), 4));
  EXPECT_EQ(seen[1], std::make_pair(QString("speedListMenuBtn"), 3));
}

}  // namespace
}  // namespace tw
