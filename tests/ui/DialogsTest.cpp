// The message, prompt and loading dialogs: results as the user answers them, sizes, wrapped
// texts, self-deletion, the loading box inside its owner, and no shadow without a compositor.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "tasks/Commands.h"
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
    auto* dialog = new PromptBoxDialog(nullptr, QStringLiteral("没有发现新版本!"), w, h);
    dialog->Create();
    EXPECT_EQ(dialog->ClientSize(), QSize(w, h));
    QPointer<PromptBoxDialog> alive = dialog;
    auto answer = test::AnswerNextModal("msgConfirm");
    EXPECT_EQ(dialog->ShowModal(), 1);
    EXPECT_TRUE(answer->answered);
    EXPECT_TRUE(alive.isNull()) << "the dialog deletes itself";
  }
}

// A message wraps in the dialog's width; the dialog grows taller until all of it shows.
TEST(DialogsTest, LongTextsWrapAndTheDialogGrowsTaller) {
  struct Case {
    QString text;
    bool taller;
  };
  const std::vector<Case> cases = {
      {QStringLiteral("没有发现新版本!"), false},
      {QString::fromUtf8(kMsgCommandTooLong), true},
      {QString(120, QChar(0x97F3)), true},
  };
  for (const Case& c : cases) {
    std::vector<std::unique_ptr<SkinDialog>> dialogs;
    dialogs.push_back(std::make_unique<PromptBoxDialog>(nullptr, c.text, 200, 100));
    dialogs.push_back(std::make_unique<MessageBoxDialog>(nullptr, c.text));
    for (auto& dialog : dialogs) {
      SCOPED_TRACE(dialog->GetWindowClassName().toStdString() + " " + c.text.toStdString());
      const bool prompt = dialog->GetWindowClassName() == "PromptBoxDialog";
      const QSize designed = prompt ? QSize(200, 100) : QSize(320, 160);
      dialog->Create();
      dialog->show();
      QApplication::processEvents();
      auto* label = dialog->findChild<QLabel*>("msgText");
      EXPECT_EQ(dialog->ClientSize().width(), designed.width());
      // The message box has room for two lines of the command-length refusal.
      if (prompt || c.text.size() > 40) {
        EXPECT_EQ(dialog->ClientSize().height() > designed.height(), c.taller);
      }
      EXPECT_GE(label->height(), label->heightForWidth(label->width())) << "every line shows";
    }
  }
}

TEST(DialogsTest, EscapeIsNoConfirmation) {
  auto* dialog = new MessageBoxDialog(nullptr, "q");
  dialog->Create();
  QTimer::singleShot(0, [] {  // in the dialog's own loop
    if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
  });
  EXPECT_EQ(dialog->ShowModal(), 0);
}

// The loading box lies inside its owner, centred, also after the owner is resized.
TEST(DialogsTest, LoadingBoxIsAnOverlayThatShowsPercentages) {
  QWidget owner;
  owner.resize(800, 600);
  owner.show();
  auto* box = new LoadingDialog(&owner, QStringLiteral("正在加载波形..."));
  box->Create();
  EXPECT_FALSE(box->isWindow());
  EXPECT_FALSE(box->isVisible());
  EXPECT_EQ(box->findChild<QLabel*>("msgText")->text(), QStringLiteral("正在加载波形..."));
  EXPECT_EQ(box->ProgressText(), "0%");
  for (int percent : {1, 55, 100}) {
    box->SetProgress(percent);
    EXPECT_EQ(box->ProgressText(), QString::number(percent) + "%");
  }
  EXPECT_TRUE(box->findChildren<QPushButton*>().isEmpty());
  for (const QSize size : {QSize(800, 600), QSize(1100, 760), QSize(500, 400)}) {
    owner.resize(size);
    box->show();
    QApplication::processEvents();
    EXPECT_TRUE(owner.rect().contains(box->geometry())) << size.width();
    EXPECT_LE((box->geometry().center() - owner.rect().center()).manhattanLength(), 2) << size.width();
  }
}

TEST(DialogsTest, NoShadowWithoutACompositor) {
  EXPECT_FALSE(CWndShadow::ShadowsEnabled());
  EXPECT_FALSE(CWndShadow::RegisterShadowClass()) << "a second registration is refused";
  QWidget parent;
  parent.show();
  CWndShadow shadow;
  QWidget body(&parent);
  shadow.AttachToWindow(&parent, &body);
  EXPECT_FALSE(shadow.Attached());
  EXPECT_TRUE(shadow.Margins().isNull());
  // The dialog itself still works.
  auto answer = test::AnswerNextModal("msgConfirm");
  EXPECT_EQ(PromptBoxDialog::Show(&parent, "ok"), 1);
}

}  // namespace
}  // namespace tw
