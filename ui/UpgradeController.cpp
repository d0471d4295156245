#include "ui/UpgradeController.h"

#include <glog/logging.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

#include "app/Messages.h"
#include "net/HttpDownload.h"
#include "net/VendorService.h"
#include "ui/dialogs/DownloadDialog.h"
#include "ui/dialogs/MessageBoxDialog.h"
#include "ui/dialogs/PromptBoxDialog.h"

namespace tw {

UpgradeOutcome ShowUpgradeOffer(QWidget* owner, const UpgradeReply& reply) {
  const bool mandatory = reply.mandatory;
  const QString offer = QCoreApplication::translate("UpgradeController", "发现新版本啦!");
  if (mandatory) {
    PromptBoxDialog::Show(owner, offer, 200, 100);  // whatever the answer, the download follows
  } else if (MessageBoxDialog::Show(owner, offer) == 0) {
    return UpgradeOutcome::kDeclined;
  }
  const bool vouched = reply.downloadUrl.rfind("https://", 0) == 0 && !reply.sha256.empty() &&
                       !DownloadFileName(reply.downloadUrl).empty();
  if (!vouched) {
    // Bytes nobody vouches for are never opened here: the browser shows where the address leads.
    LOG(WARNING) << "the offer is not https with a SHA-256: opening " << reply.downloadUrl << " in the browser";
    if (QDesktopServices::openUrl(QUrl(QString::fromStdString(reply.downloadUrl))))
      return mandatory ? UpgradeOutcome::kEndProgram : UpgradeOutcome::kBrowser;
    PromptBoxDialog::Show(owner, QCoreApplication::translate("UpgradeController", "升级失败"), 200, 100);
    return UpgradeOutcome::kFailed;
  }
  switch (DownloadDialog::Show(owner, reply.downloadUrl, mandatory, reply.sha256)) {
    case DownloadDialog::Outcome::kInstallerStarted:
      return UpgradeOutcome::kEndProgram;
    case DownloadDialog::Outcome::kCancelled:
      return mandatory ? UpgradeOutcome::kEndProgram : UpgradeOutcome::kCancelled;
    case DownloadDialog::Outcome::kFailed:
      break;
  }
  PromptBoxDialog::Show(owner, QCoreApplication::translate("UpgradeController", "升级失败"), 200, 100);
  return UpgradeOutcome::kFailed;
}

UpgradeController::UpgradeController(QWidget* owner, MessageSink* sink, std::function<void()> endProgram)
    : owner_(owner), sink_(sink), endProgram_(std::move(endProgram)) {}

void UpgradeController::Check(bool notifyNoUpdate) {
  if (offering_) {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      modal->raise();
      modal->activateWindow();
    }
    return;
  }
  if (!HasVendorService()) {
    // Nothing to ask: the start-up check stays silent, the menu's says why.
    if (notifyNoUpdate)
      PromptBoxDialog::Show(owner_, QCoreApplication::translate("UpgradeController", "此版本没有更新服务。"),
                            200, 100);
    return;
  }
  if (checker_.Running()) {
    notifyPending_ = notifyPending_ || notifyNoUpdate;
    return;
  }
  notifyPending_ = false;
  checker_.Start(UpgradeCheckUrl(), notifyNoUpdate, sink_);
}

bool UpgradeController::HandleMessage(Message& message) {
  auto* record = message.As<UpgradeCheckRecord>();
  if (message.id != WM_UPGRADE_CHECKED || !record) return false;
  const bool notify = record->notifyNoUpdate || notifyPending_;
  notifyPending_ = false;
  const UpgradeReply& reply = record->reply;
  if (reply.status == UpgradeStatus::kUpdate) {
    if (offering_) return true;
    offering_ = true;
    const UpgradeOutcome outcome = ShowUpgradeOffer(owner_, reply);
    offering_ = false;
    if (outcome == UpgradeOutcome::kEndProgram && endProgram_) endProgram_();
  } else if (notify) {
    PromptBoxDialog::Show(owner_,
                          reply.status == UpgradeStatus::kNoUpdate
                              ? QCoreApplication::translate("UpgradeController", "没有发现新版本!")
                              : QCoreApplication::translate("UpgradeController", "网络错误!"),
                          200, 100);
  }
  return true;
}

}  // namespace tw
