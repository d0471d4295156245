// The main window "TWL音频剪辑": builds "MainWindow.xml", owns the nine pages and every piece
// of page state, and dispatches. User actions arrive as Notify(type, sender) (from the notify
// adapter) and go, type first and then by the sender's name, to the page that owns the
// control; window messages posted by engines on any thread (Post, the window's MessageSink)
// arrive as one custom event and HandleCustomMessage routes them by number.
// Window thread only, except Post.
#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <memory>

#include "app/MessageSink.h"
#include "tasks/TaskRecords.h"
#include "ui/Skin.h"
#include "ui/pages/Page.h"

class QStackedWidget;
class QSystemTrayIcon;
class QLocalServer;

namespace tw {

class FramelessWindow;
class LoadingDialog;
class NotifyAdapter;
class UpgradeController;
class WindowPort;
class ConvertQueue;
class FileProber;
class CutPage;
class RecordPage;
class ConvertPage;
class MergePage;
class SpeedPage;
class ExtractPage;
class NoisePage;
class VolumePage;
class BgMusicPage;

class CMainWnd : public QWidget, public MessageSink {
  Q_OBJECT
 public:
  // The page options in the order of the pages of "main-tab".
  static const std::array<const char*, 9>& PageOptions();
  // The close parameter that always closes, whatever "window-close" says.
  static constexpr int kForceCloseParam = 1234;

  explicit CMainWnd(QWidget* parent = nullptr);
  ~CMainWnd() override;

  static QString GetSkinFile() { return QStringLiteral("MainWindow.xml"); }

  // Builds the layout and runs InitWindow. False with a message when the layout cannot be built.
  // With deferPages only the page "main-tab" shows is built now; the others are built right
  // after the window's first paint, or as soon as anything needs them (CompletePages).
  bool Create(QString* error, bool deferPages = false);
  // Builds the pages Create deferred and binds them; at once when they are all there.
  void CompletePages();
  bool PagesComplete() const { return pending_.empty(); }
  // Centred on the primary screen.
  void CenterWindow();

  void Notify(const QString& type, QObject* sender);
  // True when the message was handled; unknown numbers are passed on and change nothing.
  bool HandleCustomMessage(Message& message);
  // The messages the window handles itself, without any page.
  static bool IsWindowMessage(unsigned id);
  // Thread-safe: the message reaches HandleCustomMessage on the window thread.
  void Post(Message message) override;
  // The sink to hand to engines; it outlives the window (late messages are dropped).
  MessageSink* Sink() const;

  // Closes the window as its close button does, with the given close parameter.
  void PostClose(int wParam);
  // True when the close goes ahead; false when the window minimised itself instead, or when the
  // user chose to keep the jobs that still wait or run.
  bool OnClose(int wParam);
  // The question before a close with jobs: "还有N个任务正在进行,确定要退出吗?".
  static QString CloseQuestion(size_t jobs);

  // Restores, shows and activates the window and its open dialog (a second start asked), with
  // the second start's activation token where the window system needs one (Wayland).
  void RaiseFromAnotherInstance(const QByteArray& activationToken = {});
  // Files handed over from outside the window (command line, file manager, a later start):
  // one opens on the cut page, several on the convert page's list (FileOpener.h).
  void OpenFiles(const QStringList& paths);

  int CurrentPage() const;
  Page* PageAt(int index) const;
  Page* PageFor(OperationKind kind) const;
  CutPage* Cut() const { return cut_; }
  RecordPage* Record() const { return record_; }
  ConvertPage* Convert() const { return convert_; }
  MergePage* Merge() const { return merge_; }
  SpeedPage* Speed() const { return speed_; }
  ExtractPage* Extract() const { return extract_; }
  NoisePage* Noise() const { return noise_; }
  VolumePage* Volume() const { return volume_; }
  BgMusicPage* BgMusic() const { return bgMusic_; }
  LoadingDialog* Loading() const { return loading_; }
  UpgradeController* Upgrade() const { return upgrade_.get(); }
  QWidget* Root() const { return root_; }
  PageContext& Context() { return ctx_; }
  TaskMap& Tasks() { return tasks_; }
  ConvertQueue* Queue() const { return queue_.get(); }
  FileProber* Prober() const { return prober_; }

  // The names InitWindow looked up and did not find (empty with a complete skin).
  const QStringList& MissingControls() const { return missing_; }

 signals:
  // The window is going: OnFinalMessage asks its owner to end the message loop with exitCode.
  void finalMessage(int exitCode);

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void InitWindow();
  // Binds the page at index and hands it its controls' notifications; Init follows.
  void BindPage(int index);
  bool IsPending(int index) const;
  void ShowTourSoon();
  void OnDestroy();
  void OnFinalMessage();
  bool SwitchPage(const QString& optionName);
  void SelectPage(const QString& optionName);
  bool HandleWindowClick(const QString& name);
  void ShowUnminimized();
  void ShowAndActivate();
  // The settings dialog; the queue then takes the number of jobs at once that it left.
  void ShowSettings();
  void OnTrayNotify(std::int64_t mouseMessage);

  PageContext ctx_;
  TaskMap tasks_;
  std::unique_ptr<ConvertQueue> queue_;  // every row job; its worker is joined before the pages go
  FileProber* prober_ = nullptr;         // child; deleted before the pages go
  WindowPort* port_ = nullptr;
  QWidget* root_ = nullptr;
  QStackedWidget* mainTab_ = nullptr;
  NotifyAdapter* notify_ = nullptr;
  LoadingDialog* loading_ = nullptr;
  FramelessWindow* frame_ = nullptr;  // child: resizing, moving and maximising
  QSystemTrayIcon* tray_ = nullptr;
  std::unique_ptr<UpgradeController> upgrade_;
  std::vector<std::unique_ptr<Page>> pages_;  // in the order of "main-tab"
  QHash<QString, Page*> notifyOwners_;        // control name -> page
  CutPage* cut_ = nullptr;
  RecordPage* record_ = nullptr;
  ConvertPage* convert_ = nullptr;
  MergePage* merge_ = nullptr;
  SpeedPage* speed_ = nullptr;
  ExtractPage* extract_ = nullptr;
  NoisePage* noise_ = nullptr;
  VolumePage* volume_ = nullptr;
  BgMusicPage* bgMusic_ = nullptr;
  QStringList missing_;
  std::unique_ptr<SplitLayout> split_;  // the layout, while pages are still to be built
  std::vector<int> pending_;            // indices of the pages still to be built
  bool completing_ = false;
  bool completeQueued_ = false;
  bool tourAfterPages_ = false;  // the first start's tour waits for the deferred pages
  int pendingCloseParam_ = 0;
  bool askingToClose_ = false;  // the close question is open: further closes wait for its answer
  bool destroyed_ = false;
};

}  // namespace tw
