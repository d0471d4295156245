// The feedback form as the user fills it: empty fields refused before anything is sent, the
// texts as the service receives them, each answer's prompt, the texts kept after a failure,
// the help link, and the main window's two ways of opening it.
#include <gtest/gtest.h>
#include <json/json.h>

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "net/VendorService.h"
#include "tests/support/QtModalScript.h"
#include "tests/support/QtPages.h"
#include "tests/support/ServiceHttpServer.h"
#include "ui/CMainWnd.h"
#include "ui/dialogs/FeedbackDialog.h"

namespace tw {
namespace {

void SetService(const std::string& base) {
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyServiceUrl, base);
}

// Types the texts and presses send.
std::function<bool(QWidget*)> Fill(const QString& content, const QString& contact) {
  return [=](QWidget* dialog) {
    dialog->findChild<QPlainTextEdit*>("feedbackContent")->setPlainText(content);
    dialog->findChild<QLineEdit*>("feedbackContact")->setText(contact);
    dialog->findChild<QPushButton*>("feedbackBtn")->click();
    return true;
  };
}

class FeedbackDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<test::ServiceHttpServer>([this](const test::ServiceRequest&) {
      return test::ServiceReply{200, reply_};
    });
    SetService(server_->Base());
  }
  void TearDown() override {
    dialogs_.Check();
    SetService("");
  }

  test::ExpectedDialogs dialogs_;
  std::unique_ptr<test::ServiceHttpServer> server_;
  std::string reply_ = "{\"ret\":0}";
};

TEST_F(FeedbackDialogTest, EmptyFieldsAreRefusedBeforeAnythingIsSent) {
  const std::vector<std::tuple<QString, QString, QString>> cases = {
      {"", "", QStringLiteral("反馈内容不能为空!")},
      {"", "qq 1", QStringLiteral("反馈内容不能为空!")},
      {" \n\t ", "qq 1", QStringLiteral("反馈内容不能为空!")},
      {QStringLiteral("很好"), "", QStringLiteral("联系方式不能为空!")},
      {QStringLiteral("很好"), "   ", QStringLiteral("联系方式不能为空!")},
  };
  auto* dialog = new FeedbackDialog(nullptr);
  dialog->Create();
  dialog->show();
  EXPECT_EQ(dialog->objectName(), QStringLiteral("意见反馈"));
  for (const auto& [content, contact, tip] : cases) {
    Fill(content, contact)(dialog);
    EXPECT_EQ(dialog->findChild<QLabel*>("feedbackErrorTips")->text(), tip) << content.toStdString();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->Sending());
  }
  test::Pump();
  EXPECT_TRUE(server_->Requests().empty());
  // The comment gets the focus once the window is up.
  ASSERT_TRUE(test::WaitUntil(
      [&] { return dialog->findChild<QPlainTextEdit*>("feedbackContent")->hasFocus(); }, 2000));
  delete dialog;
  dialogs_.Expect({"意见反馈"});
}

TEST_F(FeedbackDialogTest, TheServiceReceivesTheTextsAndTheFormClosesAfterASend) {
  const QString content = QStringLiteral("剪辑后 \"声音\" 变小了\n第二行 $(rm -rf ~) 'x'");
  const QString contact = QStringLiteral("-微信: tw_user");
  auto script = test::RunModalScript(
      {{"意见反馈", Fill(content, contact)}, {"PromptBoxDialog", test::Press("msgConfirm")}});
  EXPECT_EQ(FeedbackDialog::Show(nullptr), 1);
  EXPECT_EQ(script->texts.value(1), QStringLiteral("反馈信息已提交!"));
  dialogs_.Expect({"意见反馈", "反馈信息已提交!"});
  const auto requests = server_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/v2/feedback");
  EXPECT_NE(requests[0].body.find("剪辑后"), std::string::npos) << "UTF-8, not escaped";
  Json::Value root;
  std::istringstream in(requests[0].body);
  std::string errors;
  ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &root, &errors));
  EXPECT_EQ(QString::fromStdString(root["content"].asString()), content);
  EXPECT_EQ(QString::fromStdString(root["contact"].asString()), contact);
}

TEST_F(FeedbackDialogTest, AFailedSendSaysWhyAndKeepsTheTexts) {
  struct Case {
    const char* name;
    std::string service;
    std::string reply;
    QString prompt;
  };
  const std::vector<Case> cases = {
      {"network down", "http://127.0.0.1:9", "", QStringLiteral("网络错误!")},
      {"not JSON", "server", "<html>502</html>", QStringLiteral("网络错误!")},
      {"refused", "server", "{\"ret\":7}", QStringLiteral("未知错误")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetService(c.service == "server" ? server_->Base() : c.service);
    reply_ = c.reply;
    QString keptContent, keptContact;
    auto script = test::RunModalScript({
        {"意见反馈", Fill(QStringLiteral("内容"), QStringLiteral("联系"))},
        {"PromptBoxDialog", test::Press("msgConfirm")},
        {"意见反馈",
         [&](QWidget* dialog) {
           keptContent = dialog->findChild<QPlainTextEdit*>("feedbackContent")->toPlainText();
           keptContact = dialog->findChild<QLineEdit*>("feedbackContact")->text();
           return test::Press("closebtn")(dialog);
         }},
    });
    EXPECT_EQ(FeedbackDialog::Show(nullptr), 0);
    script->stop = true;  // its steps refer to this iteration's texts
    EXPECT_EQ(script->done, 3);
    EXPECT_EQ(script->texts.value(1), c.prompt);
    dialogs_.Expect({"意见反馈", c.prompt});
    EXPECT_EQ(keptContent, QStringLiteral("内容"));
    EXPECT_EQ(keptContact, QStringLiteral("联系"));
  }
}

TEST_F(FeedbackDialogTest, ABuildWithoutAServiceSaysSoBeforeAnythingIsTyped) {
  SetService("");
  auto* dialog = new FeedbackDialog(nullptr);
  dialog->Create();
  EXPECT_EQ(dialog->findChild<QLabel*>("feedbackErrorTips")->text(), QStringLiteral("此版本没有反馈服务。"));
  EXPECT_FALSE(dialog->findChild<QPushButton*>("feedbackBtn")->isEnabled());
  delete dialog;
  dialogs_.Expect({});
}

TEST_F(FeedbackDialogTest, ContactUsOpensTheProductHelpPage) {
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyWebsiteUrl, "http://127.0.0.1:9/");
  test::UrlCatcher opened;
  QDesktopServices::setUrlHandler("http", &opened, "open");
  auto* dialog = new FeedbackDialog(nullptr);
  dialog->Create();
  dialog->show();
  dialog->findChild<QPushButton*>("contact-us")->click();
  QDesktopServices::unsetUrlHandler("http");
  ASSERT_EQ(opened.urls.size(), 1);
  EXPECT_EQ(opened.urls[0].toString(), "http://127.0.0.1:9/help/audio");
  EXPECT_TRUE(dialog->isVisible()) << "the form stays open";
  delete dialog;
  dialogs_.Expect({"意见反馈"});
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyWebsiteUrl, "");
}

TEST_F(FeedbackDialogTest, TheMainWindowOpensItFromTheMenuAndTheTitleBar) {
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyWindowClose, "0");
  SetService("");
  QPointer<CMainWnd> window = new CMainWnd();
  QString error;
  ASSERT_TRUE(window->Create(&error)) << error.toStdString();
  window->showMinimized();
  for (const char* way : {"menu", "title bar"}) {
    SCOPED_TRACE(way);
    auto script = test::RunModalScript({{"意见反馈", test::Press("closebtn")}});
    if (std::string(way) == "menu")
      window->Post(Message(WM_MENU_FEEDBACK));
    else
      FindControl<QPushButton>(window->Root(), "feedback")->click();
    ASSERT_TRUE(test::WaitUntil([&] { return script->done == 1; }));
    EXPECT_FALSE(window->isMinimized() && std::string(way) == "menu") << "the menu shows the window first";
  }
  // Asking again while the form is open brings that one forward instead of a second form.
  int forms = 0;
  auto script =
      test::RunModalScript({{"意见反馈", [&](QWidget* dialog) {
                               window->Post(Message(WM_MENU_FEEDBACK));
                               test::Pump();
                               for (QWidget* w : QApplication::topLevelWidgets())
                                 forms += w->objectName() == QStringLiteral("意见反馈") && w->isVisible();
                               return test::Press("closebtn")(dialog);
                             }}});
  FindControl<QPushButton>(window->Root(), "feedback")->click();
  ASSERT_TRUE(test::WaitUntil([&] { return script->done == 1; }));
  EXPECT_EQ(forms, 1);
  delete window.data();
  dialogs_.Expect({"意见反馈", "意见反馈", "意见反馈"});
}

}  // namespace
}  // namespace tw
