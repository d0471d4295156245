#include "ui/UrlOpener.h"

#include <glog/logging.h>

#include <QCoreApplication>
#include <QDesktopServices>

#include "net/VendorService.h"
#include "ui/dialogs/PromptBoxDialog.h"

namespace tw {
namespace {

std::unique_ptr<UrlOpener>& Replacement() {
  static std::unique_ptr<UrlOpener> opener;
  return opener;
}

}  // namespace

bool SystemUrlOpener::Open(const QUrl& url) {
  return QDesktopServices::openUrl(url);
}

UrlOpener& Urls() {
  static SystemUrlOpener system;
  return Replacement() ? *Replacement() : static_cast<UrlOpener&>(system);
}

std::unique_ptr<UrlOpener> SetUrlOpener(std::unique_ptr<UrlOpener> opener) {
  auto previous = std::move(Replacement());
  Replacement() = std::move(opener);
  return previous;
}

QUrl VendorSiteUrl(const QString& path) {
  return QUrl(QString::fromStdString(WebsiteUrl(path.toStdString())));
}

void OpenHelpPage(QWidget* owner) {
  const QUrl url = VendorSiteUrl(QString::fromLatin1(kHelpPath));
  if (url.isEmpty()) {
    LOG(ERROR) << "no web site address is configured for the help page";
  } else if (Urls().Open(url)) {
    return;
  } else {
    LOG(ERROR) << "no handler opened " << url.toString().toStdString();
  }
  PromptBoxDialog::Show(owner, QCoreApplication::translate("UrlOpener", "无法打开帮助页面!"));
}

}  // namespace tw
