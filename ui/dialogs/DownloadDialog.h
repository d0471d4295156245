// The installer download window "升级下载": "download-slider" and "download-text" follow the
// download, "cancel" asks it to stop. It starts the download when built and stays open until
// the download has ended (a cancel or Escape only asks); when every byte has arrived it hands
// the installer to the desktop's default handler. Window thread only; the download thread
// reports through the dialog's own port.
#pragma once

#include <memory>
#include <string>

#include "app/MessageSink.h"
#include "ui/dialogs/SkinDialog.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace tw {

class HttpDownload;
class WindowPort;

class DownloadDialog : public SkinDialog {
  Q_OBJECT
 public:
  enum class Outcome {
    kInstallerStarted,  // the installer was handed to the desktop: the program ends
    kCancelled,         // the user stopped it; nothing is left behind
    kFailed,            // the download or the start of the installer failed
  };

  // sha256: what the file must hash to before it is opened ("" checks nothing).
  DownloadDialog(QWidget* owner, std::string url, bool mandatory, Outcome* outcome, std::string sha256 = "");
  ~DownloadDialog() override;

  QString GetSkinFile() const override { return QStringLiteral("download.xml"); }
  QString GetWindowClassName() const override { return QStringLiteral("升级下载"); }

  // Builds, centres and runs the dialog over owner; the outcome of the download.
  static Outcome Show(QWidget* owner, const std::string& url, bool mandatory, const std::string& sha256 = "");
  // The folder that receives installers (local application data + "/Packmoor/Temp").
  static std::string DownloadFolder();

  bool Mandatory() const { return mandatory_; }

 public slots:
  // Escape: a request to cancel, like the button.
  void reject() override;

 protected:
  void InitWindow() override;
  void Notify(const QString& type, QObject* sender) override;
  bool event(QEvent* event) override;

 private:
  void RequestCancel();
  void SetProgress(int percent);
  void Finish(Message& message);

  std::string url_;
  std::string sha256_;
  bool mandatory_;
  Outcome* outcome_;
  WindowPort* port_ = nullptr;
  std::unique_ptr<HttpDownload> download_;
  QPushButton* cancel_ = nullptr;
  QLabel* text_ = nullptr;
  QProgressBar* slider_ = nullptr;
};

}  // namespace tw
