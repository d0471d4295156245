// The message, prompt and loading dialogs: results as the user answers them, sizes, texts,
// self-deletion, and no shadow without a compositor.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "tests/support/QtDialogs.h"
#include "ui/dialogs/LoadingDialog.h"
#include "ui/dialogs/MessageBoxDialog.h"
#include "ui/dialogs/PromptBoxDialog.h"

namespace tw {
namespace {

TEST(DialogsTest, MessageBoxAnswersByButton) {
  const std::vector<std::pair<const char*, int>> cases = {{"msgConfirm", 1}, {"msgCancel", 0}};
  QWidget owner;
  owner.resize(400, 300);
  owner.show();
  for (const auto& [button, result] : cases) {
    auto answer = test::AnswerNextModal(button);
    EXPECT_EQ(MessageBoxDialog::Show(&owner, QStringLiteral("确定要删除吗?")), result) << button;
    EXPECT_TRUE(answer->answered);
    EXPECT_EQ(answer->dialogClass, "MessageBoxDialog");
    EXPECT_EQ(answer->text, QStringLiteral("确定要删除吗?"));
  }
}

TEST(DialogsTest, PromptBoxHasItsClientSizeAndConfirms) {
  const std::vector<std::pair<int, int>> sizes = {{200, 100}, {250, 100}, {320, 140}};
  for (const auto& [w, h] : sizes) {
    auto* dialog = new PromptBoxDialog(nullptr, QStringLiteral("没有插入麦克风设备,仅录系统声音"), w, h);
    dialog->Create();
    EXPECT_EQ(dialog->size(), QSize(w, h));
    QPointer<PromptBoxDialog> alive = dialog;
    auto answer = test::AnswerNextModal("msgConfirm");
    EXPECT_EQ(dialog->ShowModal(), 1);
    EXPECT_TRUE(answer->answered);
    EXPECT_TRUE(alive.isNull()) << "the dialog deletes itself";
  }
}

TEST(DialogsTest, LongTextsAreCutNotWrapped) {
  auto* dialog = new PromptBoxDialog(nullptr, QString(400, QChar(0x97F3)), 200, 100);
  dialog->Create();
  EXPECT_EQ(dialog->size(), QSize(200, 100));
  EXPECT_FALSE(dialog->findChild<QLabel*>("msgText")->wordWrap());
  delete dialog;
}

TEST(DialogsTest, EscapeIsNoConfirmation) {
  auto* dialog = new MessageBoxDialog(nullptr, "q");
  dialog->Create();
  QTimer::singleShot(50, [] {
    if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
  });
  EXPECT_EQ(dialog->ShowModal(), 0);
}

TEST(DialogsTest, LoadingDialogShowsPercentages) {
  LoadingDialog dialog(nullptr, QStringLiteral("正在加载波形..."));
  dialog.Create();
  EXPECT_EQ(dialog.findChild<QLabel*>("msgText")->text(), QStringLiteral("正在加载波形..."));
  EXPECT_EQ(dialog.ProgressText(), "0%");
  for (int percent : {1, 55, 100}) {
    dialog.SetProgress(percent);
    EXPECT_EQ(dialog.ProgressText(), QString::number(percent) + "%");
  }
  EXPECT_TRUE(dialog.findChildren<QPushButton*>().isEmpty());
}

TEST(DialogsTest, NoShadowWithoutACompositor) {
  EXPECT_FALSE(CWndShadow::ShadowsEnabled());
  EXPECT_FALSE(CWndShadow::RegisterShadowClass()) << "a second registration is refused";
  QWidget parent;
  parent.show();
  CWndShadow shadow;
  shadow.AttachToWindow(&parent);
  EXPECT_FALSE(shadow.Attached());
  // The dialog itself still works.
  auto answer = test::AnswerNextModal("msgConfirm");
  EXPECT_EQ(PromptBoxDialog::Show(&parent, "ok"), 1);
}

}  // namespace
}  // namespace tw
