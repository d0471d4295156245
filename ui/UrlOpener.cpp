#include "ui/UrlOpener.h"

#include <glog/logging.h>

#include <QDesktopServices>

#include "ui/dialogs/PromptBoxDialog.h"

namespace tw {
namespace {

// The vendor's web site. One place, so that a release names its real host here.
constexpr const char* kVendorSite = "https://www.tunewell.example";

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
  return QUrl(QString::fromLatin1(kVendorSite) + path);
}

void OpenHelpPage(QWidget* owner) {
  const QUrl url = VendorSiteUrl(QStringLiteral("/help"));
  if (Urls().Open(url)) return;
  LOG(ERROR) << "no handler opened " << url.toString().toStdString();
  PromptBoxDialog::Show(owner, QStringLiteral("无法打开帮助页面!"));
}

}  // namespace tw
