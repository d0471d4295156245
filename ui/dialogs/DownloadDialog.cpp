#include "ui/dialogs/DownloadDialog.h"

#include <glog/logging.h>

#include <QDesktopServices>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "net/HttpDownload.h"
#include "net/VendorService.h"
#include "ui/MessageEvent.h"

namespace tw {

DownloadDialog::DownloadDialog(QWidget* owner, std::string url, bool mandatory, Outcome* outcome, std::string sha256)
    : SkinDialog(owner, QString()),
      url_(std::move(url)),
      sha256_(std::move(sha256)),
      mandatory_(mandatory),
      outcome_(outcome) {
  port_ = WindowPort::Create();
  port_->Attach(this);
}

DownloadDialog::~DownloadDialog() {
  port_->Detach();
  download_.reset();  // cancels and joins a download that is still running
}

std::string DownloadDialog::DownloadFolder() {
  return GetLocalAppFolder("Packmoor/Temp");
}

DownloadDialog::Outcome DownloadDialog::Show(QWidget* owner, const std::string& url, bool mandatory,
                                             const std::string& sha256) {
  Outcome outcome = Outcome::kFailed;
  auto* dialog = new DownloadDialog(owner, url, mandatory, &outcome, sha256);
  try {
    dialog->Create();
  } catch (const DialogError& e) {
    LOG(ERROR) << e.what();
    delete dialog;
    return Outcome::kFailed;
  }
  dialog->ShowModal();
  return outcome;
}

void DownloadDialog::InitWindow() {
  cancel_ = Require<QPushButton>("cancel");
  text_ = Require<QLabel>("download-text");
  slider_ = Require<QProgressBar>("download-slider");
  setWindowTitle(GetWindowClassName());
  slider_->setRange(0, 100);
  SetProgress(0);
  DownloadLimits limits;
  limits.sha256 = sha256_;
  limits.caFile = SettingsFile::Instance().GetString(kSettingsSection, kKeyCaFile, "");
  download_ = std::make_unique<HttpDownload>(url_, DownloadFolder(), port_, limits);
  download_->Start();
}

void DownloadDialog::SetProgress(int percent) {
  text_->setText(QStringLiteral("%1%").arg(percent));
  slider_->setValue(percent);
}

void DownloadDialog::RequestCancel() {
  if (!download_) return Close(0);
  download_->Cancel();
  cancel_->setEnabled(false);  // the download ends within moments and closes the dialog
}

void DownloadDialog::reject() {
  RequestCancel();
}

void DownloadDialog::Notify(const QString& type, QObject* sender) {
  if (type == "click" && sender == cancel_) return RequestCancel();
  SkinDialog::Notify(type, sender);
}

bool DownloadDialog::event(QEvent* event) {
  if (event->type() != MessageEvent::EventType()) return SkinDialog::event(event);
  Message& message = static_cast<MessageEvent*>(event)->message();
  if (message.id == WM_DOWNLOAD_PROGRESS) SetProgress(static_cast<int>(message.param));
  if (message.id == WM_DOWNLOAD_DONE) Finish(message);
  return true;
}

void DownloadDialog::Finish(Message& message) {
  const auto* done = message.As<DownloadDoneRecord>();
  Outcome outcome = Outcome::kFailed;
  if (done && done->result == DownloadResult::kCancelled) outcome = Outcome::kCancelled;
  if (done && done->result == DownloadResult::kComplete) {
    SetProgress(100);
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(done->path)))) {
      outcome = Outcome::kInstallerStarted;
    } else {
      LOG(ERROR) << "升级失败";
    }
  }
  if (outcome_) *outcome_ = outcome;
  Close(1);
}

}  // namespace tw
