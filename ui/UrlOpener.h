// Opening addresses with the desktop's default handler (the browser for the help pages, the
// file manager for folders), behind an interface that tests replace so that nothing is
// started on the test machine. Window thread only.
#pragma once

#include <QString>
#include <QUrl>
#include <memory>

class QWidget;

namespace tw {

class UrlOpener {
 public:
  virtual ~UrlOpener() = default;
  // False when no handler took the address.
  virtual bool Open(const QUrl& url) = 0;
};

// The desktop's handler (QDesktopServices).
class SystemUrlOpener : public UrlOpener {
 public:
  bool Open(const QUrl& url) override;
};

// The opener the windows use: the system one unless a test installed another.
UrlOpener& Urls();
// Installs opener (null restores the system one); returns the previous replacement.
std::unique_ptr<UrlOpener> SetUrlOpener(std::unique_ptr<UrlOpener> opener);

// An address on the vendor's web site (its base address as net/VendorService.h finds it): path
// "/help" is the program's help page, "/help/audio" the help page of this product. Empty when
// no web site address is configured.
QUrl VendorSiteUrl(const QString& path);

// Opens the help page; when no handler takes it, the prompt dialog says so over owner.
void OpenHelpPage(QWidget* owner);

}  // namespace tw
