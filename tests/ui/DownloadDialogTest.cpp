// The download dialog on its own: its controls, the percentage as the bytes arrive, the
// installer handed to the desktop, and the cancel button and Escape that stop it.
#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <memory>

#include "tests/support/QtModalScript.h"
#include "tests/support/QtPages.h"
#include "tests/support/ServiceHttpServer.h"
#include "ui/dialogs/DownloadDialog.h"

namespace tw {
namespace {

class DownloadDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { QDir(Folder()).removeRecursively(); }
  void TearDown() override { dialogs_.Check(); }
  static QString Folder() { return QString::fromStdString(DownloadDialog::DownloadFolder()); }

  test::ExpectedDialogs dialogs_;
};

TEST_F(DownloadDialogTest, ShowsThePercentageAndStartsTheFinishedInstaller) {
  test::ServiceHttpServer server([](const test::ServiceRequest&) {
    test::ServiceReply r{200, std::string(100 * 1024, 'x')};
    r.bytesPerSecond = 100 * 1024;  // about a second, so the percentage is seen moving
    return r;
  });
  test::UrlCatcher opened;
  // Watch the dialog while it runs.
  auto seen = std::make_shared<std::pair<QStringList, QList<int>>>();
  auto script =
      test::RunModalScript({{"升级下载", [seen](QWidget* dialog) {
                               const QString text = dialog->findChild<QLabel*>("download-text")->text();
                               const int value = dialog->findChild<QProgressBar*>("download-slider")->value();
                               if (seen->first.isEmpty() || seen->first.back() != text) {
                                 seen->first << text;
                                 seen->second << value;
                               }
                               return false;  // watch until the dialog closes
                             }}});
  const auto outcome = DownloadDialog::Show(nullptr, server.Base() + "/setup.deb", false);
  script->stop = true;
  const QStringList& texts = seen->first;
  const QList<int>& values = seen->second;
  EXPECT_EQ(outcome, DownloadDialog::Outcome::kInstallerStarted);
  ASSERT_FALSE(texts.isEmpty());
  EXPECT_GE(texts.size(), 3) << texts.join(" ").toStdString();
  EXPECT_TRUE(std::is_sorted(values.begin(), values.end())) << texts.join(" ").toStdString();
  for (int i = 0; i < texts.size(); ++i) EXPECT_EQ(texts[i], QString("%1%").arg(values[i]));
  ASSERT_EQ(opened.urls.size(), 1);
  EXPECT_EQ(opened.urls[0].toLocalFile(), Folder() + "/setup.deb");
  EXPECT_EQ(QDir(Folder()).entryList(QDir::Files), QStringList{"setup.deb"});
  dialogs_.Expect({"升级下载"});
}

TEST_F(DownloadDialogTest, CancelAndEscapeStopTheDownloadAndLeaveNothing) {
  test::ServiceHttpServer server([](const test::ServiceRequest&) {
    test::ServiceReply r{200, std::string(400 * 1024, 'x')};
    r.bytesPerSecond = 40 * 1024;
    return r;
  });
  test::UrlCatcher opened;
  const std::vector<std::pair<const char*, std::function<void(QWidget*)>>> cases = {
      {"cancel button", [](QWidget* d) { d->findChild<QPushButton*>("cancel")->click(); }},
      {"Escape", [](QWidget* d) { QMetaObject::invokeMethod(d, "reject"); }},
  };
  for (const auto& [name, stop] : cases) {
    SCOPED_TRACE(name);
    auto script = test::RunModalScript({{"升级下载", [&](QWidget* dialog) {
                                           if (dialog->findChild<QLabel*>("download-text")->text() == "0%")
                                             return false;
                                           stop(dialog);
                                           return true;
                                         }}});
    EXPECT_EQ(DownloadDialog::Show(nullptr, server.Base() + "/setup.deb", true),
              DownloadDialog::Outcome::kCancelled);
    EXPECT_EQ(script->done, 1);
    EXPECT_TRUE(QDir(Folder()).isEmpty());
    dialogs_.Expect({"升级下载"});
  }
  EXPECT_TRUE(opened.urls.isEmpty());
}

TEST_F(DownloadDialogTest, AFailedDownloadClosesTheDialog) {
  test::ServiceHttpServer server([](const test::ServiceRequest& r) {
    test::ServiceReply reply{200, std::string(1024, 'x')};
    if (r.method == "GET") reply.sendFraction = 0.5;
    return reply;
  });
  test::UrlCatcher opened;
  EXPECT_EQ(DownloadDialog::Show(nullptr, server.Base() + "/setup.deb", false),
            DownloadDialog::Outcome::kFailed);
  EXPECT_EQ(DownloadDialog::Show(nullptr, server.Base() + "/", false), DownloadDialog::Outcome::kFailed);
  dialogs_.Expect({"升级下载", "升级下载"});
  EXPECT_TRUE(opened.urls.isEmpty());
  EXPECT_TRUE(QDir(Folder()).isEmpty());
}

}  // namespace
}  // namespace tw
