// The upgrade check as the user meets it, through the main window and a loopback service: the
// silent start-up check, the check from the menu, the offer declined or taken, a mandatory
// update, a failed download and a check that gets no answer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <fstream>

#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "net/VendorService.h"
#include "tests/support/QtModalScript.h"
#include "tests/support/QtPages.h"
#include "tests/support/ServiceHttpServer.h"
#include "tests/support/TestMedia.h"
#include "tests/support/TlsServer.h"
#include "ui/CMainWnd.h"
#include "ui/UpgradeController.h"
#include "ui/dialogs/DownloadDialog.h"

namespace tw {
namespace {

std::string CheckReply(const std::string& version, const std::string& url, int force, const std::string& sha = "") {
  return "{\"ret\":0,\"data\":{\"app_version\":\"" + version + "\",\"download_url\":\"" + url +
         "\",\"force_upgrade\":" + std::to_string(force) + (sha.empty() ? "" : ",\"sha256\":\"" + sha + "\"") + "}}";
}

void SetService(const std::string& base) {
  SettingsFile::Instance().WriteString(kSettingsSection, kKeyServiceUrl, base);
}

// The vendor service and its download server in one: "/v2/upgrade_check" answers with the
// scenario's version; "/pkg/..." serves the installer, also over https (a relay whose
// certificate comes from the test's own authority, which the settings' "ca-file" trusts).
class UpgradeControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dialogs_ = std::make_unique<test::DialogRecorder>();
    SettingsFile::Instance().WriteString(kSettingsSection, kKeyWindowClose, "0");
    QDir(QString::fromStdString(DownloadDialog::DownloadFolder())).removeRecursively();
    server_ = std::make_unique<test::ServiceHttpServer>([this](const test::ServiceRequest& r) {
      if (r.target.rfind("/v2/upgrade_check", 0) == 0) return test::ServiceReply{200, checkReply_};
      if (r.target == "/pkg/missing.deb") return test::ServiceReply{404, "gone"};
      test::ServiceReply installer{200, std::string(200 * 1024, 'i')};
      installer.bytesPerSecond = slow_ ? 40 * 1024 : 0;
      return installer;
    });
    tls_ = std::make_unique<test::TlsServer>(authority_.Issue("IP:127.0.0.1"), "proxy:" + server_->Base());
    SettingsFile::Instance().WriteString(kSettingsSection, kKeyCaFile, authority_.CaFile());
    sha_ = test::Sha256Of(std::string(200 * 1024, 'i'));
  }
  void TearDown() override {
    delete window_.data();
    SetService("");
    SettingsFile::Instance().WriteString(kSettingsSection, kKeyCaFile, "");
  }

  void OpenWindow(const std::string& startReply) {
    checkReply_ = startReply;
    SetService(server_->Base());
    window_ = new CMainWnd();
    QString error;
    ASSERT_TRUE(window_->Create(&error)) << error.toStdString();
    QObject::connect(window_, &CMainWnd::finalMessage, [this](int code) { ended_ = code; });
    window_->show();
    // An offer taken at start-up may end the program, and so delete the window, before the wait
    // looks again: a window gone by design ends the wait too.
    ASSERT_TRUE(test::WaitUntil([this] { return window_.isNull() || !window_->Upgrade()->Checking(); }));
    test::Pump();
  }

  std::string Url(const std::string& path) const { return server_->Base() + path; }
  std::string SecureUrl(const std::string& path) const { return tls_->Base() + path; }
  int Count(const std::string& method) const {
    int n = 0;
    for (const auto& r : server_->Requests()) n += r.method == method;
    return n;
  }
  void MenuCheck(const std::string& reply) {
    checkReply_ = reply;
    window_->Post(Message(WM_MENU_UPGRADE));
  }

  std::unique_ptr<test::DialogRecorder> dialogs_;  // every test checks what opened
  std::unique_ptr<test::ServiceHttpServer> server_;
  test::TestAuthority authority_;
  std::unique_ptr<test::TlsServer> tls_;
  std::string sha_;  // of the installer the server sends
  std::string checkReply_;
  bool slow_ = false;
  int ended_ = -1;
  QPointer<CMainWnd> window_;
};

TEST_F(UpgradeControllerTest, TheStartUpCheckIsSilentAndTheMenuCheckSaysNothingIsNew) {
  OpenWindow(CheckReply("1.6.1", "", 0));
  auto requests = server_->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target.rfind("/v2/upgrade_check?timestamp=", 0), 0u) << requests[0].target;
  EXPECT_EQ(requests[0].body, "{\"app_name\":\"Tunewell\"}");
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  const std::vector<std::pair<std::string, QString>> cases = {
      {CheckReply("1.6.1", "", 0), QStringLiteral("没有发现新版本!")},
      {CheckReply("1.5.9", Url("/pkg/setup.deb"), 1), QStringLiteral("没有发现新版本!")},
      {"<html>500</html>", QStringLiteral("网络错误!")},
      {"", QStringLiteral("网络错误!")},
  };
  for (const auto& [reply, text] : cases) {
    auto script = test::RunModalScript({{"PromptBoxDialog", test::Press("msgConfirm")}});
    MenuCheck(reply);
    ASSERT_TRUE(test::WaitUntil([&] { return script->done == 1; })) << reply;
    EXPECT_EQ(script->texts.value(0), text) << reply;
  }
  EXPECT_EQ(Count("HEAD"), 0);
  EXPECT_EQ(ended_, -1);

  // Without a service the menu check answers at once.
  SetService("http://127.0.0.1:9");
  auto script = test::RunModalScript({{"PromptBoxDialog", test::Press("msgConfirm")}});
  window_->Post(Message(WM_MENU_UPGRADE));
  ASSERT_TRUE(test::WaitUntil([&] { return script->done == 1; }));
  EXPECT_EQ(script->texts.value(0), QStringLiteral("网络错误!"));
  // A build with no service address says it has no update service.
  SetService("");
  script = test::RunModalScript({{"PromptBoxDialog", test::Press("msgConfirm")}});
  window_->Post(Message(WM_MENU_UPGRADE));
  ASSERT_TRUE(test::WaitUntil([&] { return script->done == 1; }));
  EXPECT_EQ(script->texts.value(0), QStringLiteral("此版本没有更新服务。"));
  EXPECT_EQ(dialogs_->Texts(), (QStringList{"没有发现新版本!", "没有发现新版本!", "网络错误!", "网络错误!",
                                            "网络错误!", "此版本没有更新服务。"}));
}

// A declined offer fetches nothing; neither does an accepted one nobody vouches for (plain http,
// no SHA-256, no plain file name): its address goes to the browser, and the program stays.
TEST_F(UpgradeControllerTest, ADeclinedOfferOrOneItCannotVouchForDownloadsNothing) {
  test::UrlCatcher browser;
  for (const char* scheme : {"http", "https"}) QDesktopServices::setUrlHandler(scheme, &browser, "open");
  OpenWindow(CheckReply("1.6.1", "", 0));
  const std::vector<std::pair<std::string, const char*>> offers = {
      {CheckReply("1.6.2", SecureUrl("/pkg/setup.deb"), 0, sha_), "msgCancel"},
      {CheckReply("1.6.2", Url("/pkg/setup.deb"), 0, sha_), "msgConfirm"},
      {CheckReply("1.6.2", SecureUrl("/pkg/setup.deb"), 0), "msgConfirm"},
      {CheckReply("1.6.2", SecureUrl("/pkg/%2e%2e"), 0, sha_), "msgConfirm"}};
  for (const auto& [offer, answer] : offers) {
    auto script = test::RunModalScript({{"MessageBoxDialog", test::Press(answer)}});
    MenuCheck(offer);
    ASSERT_TRUE(test::WaitUntil([&] { return script->done == 1 && !window_->Upgrade()->Offering(); })) << offer;
    EXPECT_EQ(script->texts.value(0), QStringLiteral("发现新版本啦!"));
  }
  for (const char* scheme : {"http", "https"}) QDesktopServices::unsetUrlHandler(scheme);
  ASSERT_EQ(browser.urls.size(), 3);
  EXPECT_EQ(browser.urls[0].toString().toStdString(), Url("/pkg/setup.deb"));
  EXPECT_EQ(Count("HEAD") + Count("GET"), 0);
  EXPECT_EQ(ended_, -1);
  EXPECT_EQ(dialogs_->Texts(), (QStringList{"发现新版本啦!", "发现新版本啦!", "发现新版本啦!", "发现新版本啦!"}));
}

TEST_F(UpgradeControllerTest, AnAcceptedOfferDownloadsStartsTheInstallerAndEndsTheProgram) {
  test::UrlCatcher opened;
  // The start-up check finds the update itself.
  auto script = test::RunModalScript({{"MessageBoxDialog", test::Press("msgConfirm")}});
  OpenWindow(CheckReply("1.7.0", SecureUrl("/pkg/tunewell-1.7.0.deb?channel=web"), 0, sha_));
  ASSERT_TRUE(test::WaitUntil([&] { return ended_ == 0; }));
  EXPECT_EQ(script->done, 1);
  ASSERT_EQ(opened.urls.size(), 1);
  const QString file = opened.urls[0].toLocalFile();
  EXPECT_EQ(file.toStdString(), DownloadDialog::DownloadFolder() + "/tunewell-1.7.0.deb");
  EXPECT_EQ(QFileInfo(file).size(), 200 * 1024);
  EXPECT_EQ(Count("GET"), 1);
  EXPECT_EQ(dialogs_->Texts(), (QStringList{"发现新版本啦!", "升级下载"}));
}

TEST_F(UpgradeControllerTest, ACancelledMandatoryUpdateEndsTheProgramAndLeavesNothing) {
  test::UrlCatcher opened;
  OpenWindow(CheckReply("1.6.1", "", 0));
  slow_ = true;
  auto script = test::RunModalScript({
      {"PromptBoxDialog", test::Press("msgConfirm")},
      {"升级下载",
       [](QWidget* dialog) {
         // Cancel once the download is under way.
         auto* text = dialog->findChild<QLabel*>("download-text");
         return text && text->text() != "0%" && test::Press("cancel")(dialog);
       }},
  });
  MenuCheck(CheckReply("2.0.0", SecureUrl("/pkg/setup.deb"), 1, sha_));
  ASSERT_TRUE(test::WaitUntil([&] { return ended_ == 0; }));
  EXPECT_EQ(script->done, 2);
  EXPECT_EQ(script->texts.value(0), QStringLiteral("发现新版本啦!"));
  EXPECT_TRUE(opened.urls.isEmpty());
  EXPECT_TRUE(QDir(QString::fromStdString(DownloadDialog::DownloadFolder())).isEmpty());
  EXPECT_EQ(dialogs_->Texts(), (QStringList{"发现新版本啦!", "升级下载"}));
}

TEST_F(UpgradeControllerTest, ACancelledOptionalDownloadAndAFailedOneKeepTheProgram) {
  test::UrlCatcher opened;
  OpenWindow(CheckReply("1.6.1", "", 0));
  slow_ = true;
  auto cancelled = test::RunModalScript({
      {"MessageBoxDialog", test::Press("msgConfirm")},
      {"升级下载",
       [](QWidget* dialog) {
         auto* text = dialog->findChild<QLabel*>("download-text");
         if (!text || text->text() == "0%") return false;
         QMetaObject::invokeMethod(dialog, "reject");  // Escape
         return true;
       }},
  });
  MenuCheck(CheckReply("1.6.2", SecureUrl("/pkg/setup.deb"), 0, sha_));
  ASSERT_TRUE(test::WaitUntil([&] { return cancelled->done == 2 && window_ && !window_->Upgrade()->Offering(); }));
  EXPECT_TRUE(QDir(QString::fromStdString(DownloadDialog::DownloadFolder())).isEmpty());

  slow_ = false;
  // A missing installer, and one that is not what the service vouched for.
  for (const auto& [path, sha] : {std::pair{"/pkg/missing.deb", sha_}, std::pair{"/pkg/setup.deb", std::string(64, 'a')}}) {
    auto failed = test::RunModalScript(
        {{"MessageBoxDialog", test::Press("msgConfirm")}, {"PromptBoxDialog", test::Press("msgConfirm")}});
    MenuCheck(CheckReply("1.6.2", SecureUrl(path), 0, sha));
    ASSERT_TRUE(test::WaitUntil([&] { return failed->done == 2; }));
    EXPECT_EQ(failed->texts.value(1), QStringLiteral("升级失败"));
    test::Pump();
  }
  EXPECT_TRUE(QDir(QString::fromStdString(DownloadDialog::DownloadFolder())).isEmpty());
  EXPECT_TRUE(opened.urls.isEmpty());
  EXPECT_EQ(ended_, -1);
  EXPECT_FALSE(window_.isNull());
  EXPECT_EQ(dialogs_->Texts(), (QStringList{"发现新版本啦!", "升级下载", "发现新版本啦!", "升级下载", "升级失败",
                                            "发现新版本啦!", "升级下载", "升级失败"}));
}

}  // namespace
}  // namespace tw
